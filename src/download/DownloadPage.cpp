#include "download/DownloadPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>
#include <algorithm>

#include "download/DownloadController.h"

namespace orderlink {

namespace {

constexpr char kRootText[] = "无线点菜机";
constexpr int kStateRole = Qt::UserRole;

constexpr const char* kInstructions[] = {
    " ◆ 将需要进行下载的点菜机在主菜单下按 9 进入资料界面等待接收下载",
    " ◆ 对于设置为多信道的点菜机，在资料界面下按向右的方向键设置下载",
    "      信道为当前下载基站的信道号（默认下载信道为所设的最小信道号）",
    " ◆ 从左边点菜机列表里选择需要下载的点菜机号（必须）",
    " ◆ 选择需要下载的文件，点击“开始下传”按钮开始下载",
    " ◆ 管理员密码是指点菜器设置处要输入的管理员密码",
};

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A state picture: the check box indicator of the current style, off or on.
QIcon StatePicture(const QWidget* widget, bool on) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QStyleOptionButton option;
  option.initFrom(widget);
  option.rect = QRect(1, 1, 14, 14);
  option.state = QStyle::State_Enabled | (on ? QStyle::State_On : QStyle::State_Off);
  widget->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, widget);
  return QIcon(pixmap);
}

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

// ------------------------------------------------------------------ ProgressGrid

ProgressGrid::ProgressGrid(QWidget* parent) : QWidget(parent) {
  QFont cellFont = font();
  cellFont.setPixelSize(16);
  setFont(cellFont);
  // 445 pixels wide as drawn at the window's first size; narrower or wider with it.
  setMinimumWidth(kMinimumColumnWidth + 2 * kLineWidth);
  setFixedHeight(kRowHeight + 2 * kLineWidth);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressGrid::SetProgress(const DownloadProgress& progress) {
  progress_ = progress;
  setToolTip(Text());
  update();
}

QSize ProgressGrid::sizeHint() const {
  return {kColumnWidth + 2 * kLineWidth, kRowHeight + 2 * kLineWidth};
}

QRect ProgressGrid::CellRect() const {
  return QRect(kLineWidth, kLineWidth, width() - 2 * kLineWidth, kRowHeight);
}

QString ProgressGrid::ShownText() const {
  // A text longer than the cell (an end naming many handsets) ends in "…"; the
  // whole text is the cell's tool tip and the message that follows.
  return fontMetrics().elidedText(Text(), Qt::ElideRight, CellRect().width());
}

int ProgressGrid::TextLeft() const {
  return CentredTextLeft(CellRect().left(), CellRect().width(),
                         fontMetrics().horizontalAdvance(ShownText()));
}

int ProgressGrid::FillWidth() const {
  if (progress_.total <= 0) return 0;
  const int done = std::clamp(progress_.done, 0, progress_.total);
  return static_cast<int>(static_cast<long long>(CellRect().width()) * done / progress_.total);
}

void ProgressGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect cell = CellRect();
  painter.fillRect(rect(), palette().color(QPalette::Mid));  // grid lines
  painter.fillRect(cell, palette().color(QPalette::ToolTipBase));
  if (const int fill = FillWidth(); fill > 0) {
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlpha(70);
    painter.fillRect(QRect(cell.left(), cell.top(), fill, cell.height()), shade);
  }
  painter.setClipRect(cell);
  painter.setPen(palette().color(QPalette::ToolTipText));
  painter.drawText(TextLeft(), cell.top() + kTextTop + fontMetrics().ascent(), ShownText());
}

// ------------------------------------------------------------------ DownloadPage

DownloadPage::DownloadPage(std::function<void()> openPasswordForm, const LineActivity& line,
                           QWidget* parent)
    : QWidget(parent),
      openPasswordForm_(std::move(openPasswordForm)),
      line_(line),
      timers_(new WindowTimersQt(this)),
      windowCalls_(new WindowCallQueueQt(this)) {
  setObjectName(QStringLiteral("DownloadPage"));

  handsetGroup = Named(new QGroupBox(U("无线点菜机"), this), "handsetGroup");
  downloadHandsetTree = Named(new QTreeWidget(handsetGroup), "downloadHandsetTree");
  downloadHandsetTree->setHeaderHidden(true);
  downloadHandsetTree->setColumnCount(2);
  downloadHandsetTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  rootNode = new QTreeWidgetItem(downloadHandsetTree, QStringList(U(kRootText)));
  rootNode->setData(0, kStateRole, kNoState);
  downloadHandsetTree->hide();  // shown once start-up has filled it
  notSelectedIcon_ = StatePicture(downloadHandsetTree, false);
  selectedIcon_ = StatePicture(downloadHandsetTree, true);
  selectAllBox = Named(new QCheckBox(U("全选"), handsetGroup), "selectAllBox");
  counterCaption = Named(new QLabel(U("共："), handsetGroup), "counterCaption");
  handsetCounter = Named(new QLabel(QStringLiteral("0"), handsetGroup), "handsetCounter");
  handsetCounter->setStyleSheet(QStringLiteral("color: red;"));
  counterUnit = Named(new QLabel(U("个"), handsetGroup), "counterUnit");
  auto* counterRow = new QHBoxLayout;
  counterRow->addWidget(selectAllBox);
  counterRow->addStretch();
  counterRow->addWidget(counterCaption);
  counterRow->addWidget(handsetCounter);
  counterRow->addWidget(counterUnit);
  handsetGroup->setMaximumWidth(150);  // the rest of the width is the right column's
  auto* treeColumn = new QVBoxLayout(handsetGroup);
  treeColumn->addWidget(downloadHandsetTree);
  treeColumn->addLayout(counterRow);

  tablesGroup = Named(new QGroupBox(U("下传内容"), this), "tablesGroup");
  auto* boxes = new QGridLayout(tablesGroup);
  int shown = 0;
  for (int i = 0; i < kDownloadTableCount; ++i) {
    const DownloadTable& table = kDownloadTables[i];
    auto* box = Named(new QCheckBox(U(table.caption), tablesGroup), table.boxName);
    box->setChecked(table.tickedAtStart);
    if (table.visible) {
      boxes->addWidget(box, shown / 4, shown % 4);
      ++shown;
    } else {
      box->hide();
    }
    tableBoxes_[i] = box;
  }
  recommendedDishesBox = findChild<QCheckBox*>(QStringLiteral("recommendedDishesBox"));
  recommendedDishContentsBox = findChild<QCheckBox*>(QStringLiteral("recommendedDishContentsBox"));
  adminPasswordBox = findChild<QCheckBox*>(QStringLiteral("adminPasswordBox"));

  progressGroup = Named(new QGroupBox(U("下传进度显示"), this), "progressGroup");
  progressCell = Named(new ProgressGrid(progressGroup), "progressCell");
  auto* progressBox = new QVBoxLayout(progressGroup);
  progressBox->addWidget(progressCell, 0, Qt::AlignCenter);

  instructionsGroup = Named(new QGroupBox(U("下载说明"), this), "instructionsGroup");
  QStringList lines;
  for (const char* line : kInstructions) lines << U(line);
  // A label, not a scrolled box: the six lines are read at a glance.
  instructions =
      Named(new QLabel(lines.join(QLatin1Char('\n')), instructionsGroup), "instructions");
  instructions->setWordWrap(true);
  QFont instructionsFont = instructions->font();
  instructionsFont.setPixelSize(12);
  instructions->setFont(instructionsFont);
  instructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* instructionsBox = new QVBoxLayout(instructionsGroup);
  instructionsBox->addWidget(instructions);

  startStopButton = Named(new QPushButton(U(kStartStopCaptionFirst), this), "startStopButton");
  passwordButton = Named(new QPushButton(U("修改管理员密码"), this), "passwordButton");
  passwordButton->hide();
  statusTimer = Named(new QTimer(this), "statusTimer");
  statusTimer->setInterval(200);

  // The start button sits under the handset list, so the instructions get the
  // whole width of the right column.
  treeColumn->addWidget(startStopButton);
  treeColumn->addWidget(passwordButton);
  auto* right = new QVBoxLayout;
  right->addWidget(tablesGroup);
  right->addWidget(progressGroup);
  right->addWidget(instructionsGroup, 1);
  // Tight margins: the page fits the window's first size with every instruction
  // line showing.
  for (QLayout* inner :
       {static_cast<QLayout*>(treeColumn), static_cast<QLayout*>(boxes),
        static_cast<QLayout*>(progressBox), static_cast<QLayout*>(instructionsBox)}) {
    inner->setContentsMargins(6, 2, 6, 4);
    inner->setSpacing(2);
  }
  right->setSpacing(4);
  auto* page = new QHBoxLayout(this);
  page->setContentsMargins(6, 4, 6, 4);
  page->setSpacing(6);
  page->addWidget(handsetGroup);
  page->addLayout(right, 1);

  connect(downloadHandsetTree, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (current != nullptr) ToggleNode(current);
          });
  connect(selectAllBox, &QCheckBox::clicked, this, [this] { ApplySelectAll(); });
  for (QCheckBox* box : {adminPasswordBox, recommendedDishesBox, recommendedDishContentsBox}) {
    connect(box, &QCheckBox::clicked, this, [this] { OpenPasswordFormIfTicked(); });
  }
  connect(passwordButton, &QPushButton::clicked, this, [this] {
    if (openPasswordForm_) openPasswordForm_();
  });
  connect(startStopButton, &QPushButton::clicked, this, [this] {
    if (controller_ != nullptr) controller_->StartOrStopDownload();
  });
  connect(statusTimer, &QTimer::timeout, this, [this] {
    if (controller_ != nullptr) controller_->StatusStep();
  });
}

int DownloadPage::NodeState(const QTreeWidgetItem* node) {
  return node->data(0, kStateRole).toInt();
}

void DownloadPage::SetNodeState(QTreeWidgetItem* node, int state) {
  node->setData(0, kStateRole, state);
  node->setIcon(0, state == kSelected      ? selectedIcon_
                   : state == kNotSelected ? notSelectedIcon_
                                           : QIcon());
}

void DownloadPage::AddToCounter(int delta) {
  // The count lives in the label's text, as the user sees it.
  handsetCounter->setText(QString::number(handsetCounter->text().toInt() + delta));
}

void DownloadPage::ToggleNode(QTreeWidgetItem* node) {
  if (NodeState(node) == kSelected) {
    SetNodeState(node, kNotSelected);
    AddToCounter(-1);
  } else {
    SetNodeState(node, kSelected);
    if (node->text(0) != U(kRootText)) AddToCounter(1);
  }
  SetNodeState(rootNode, kNoState);
}

void DownloadPage::ApplySelectAll() {
  const bool all = selectAllBox->isChecked();
  if (!all) handsetCounter->setText(QStringLiteral("0"));
  if (downloadHandsetTree->isHidden()) return;
  if (all) handsetCounter->setText(QString::number(rootNode->childCount()));
  for (int i = 0; i < rootNode->childCount(); ++i) {
    SetNodeState(rootNode->child(i), all ? kSelected : kNotSelected);
  }
  SetNodeState(rootNode, kNoState);
}

void DownloadPage::OpenPasswordFormIfTicked() {
  if (adminPasswordBox->isChecked() && openPasswordForm_) openPasswordForm_();
}

void DownloadPage::AddHandset(const std::string& text) {
  auto* node = new QTreeWidgetItem(rootNode, QStringList(QString::fromStdString(text)));
  SetNodeState(node, kNotSelected);
}

void DownloadPage::HandsetsComplete() {
  downloadHandsetTree->show();
  rootNode->setExpanded(true);
}

bool DownloadPage::TableTicked(int index) const { return tableBoxes_[index]->isChecked(); }

std::vector<int> DownloadPage::TickedHandsets() const {
  std::vector<int> numbers;
  for (int i = 0; i < rootNode->childCount(); ++i) {
    const QTreeWidgetItem* node = rootNode->child(i);
    if (NodeState(node) == kSelected) numbers.push_back(node->text(0).toInt());
  }
  return numbers;
}

int DownloadPage::HandsetCounter() const { return handsetCounter->text().toInt(); }

void DownloadPage::SetStartStopCaption(const std::string& utf8) {
  const QString caption = QString::fromStdString(utf8);
  startStopButton->setText(caption);
  if (caption != U(kStartStopCaptionRunning)) emit TrayProgressChanged(QString());
}

void DownloadPage::SetInputsEnabled(bool enabled) {
  for (QCheckBox* box : tableBoxes_) box->setEnabled(enabled);
  downloadHandsetTree->setEnabled(enabled);
  selectAllBox->setEnabled(enabled);
}

void DownloadPage::ShowHandsetOutcome(int handset, HandsetOutcome outcome) {
  for (int i = 0; i < rootNode->childCount(); ++i) {
    QTreeWidgetItem* node = rootNode->child(i);
    if (node->text(0).toInt() != handset) continue;
    switch (outcome) {
      case HandsetOutcome::Complete:
        node->setText(kOutcomeColumn, U("下载完成"));
        node->setForeground(kOutcomeColumn, QBrush(Qt::darkGreen));
        break;
      case HandsetOutcome::Failed:
        node->setText(kOutcomeColumn, U("下载失败"));
        node->setForeground(kOutcomeColumn, QBrush(Qt::red));
        break;
      case HandsetOutcome::NoAnswer:
        node->setText(kOutcomeColumn, U("没有应答"));
        node->setForeground(kOutcomeColumn, QBrush(Qt::red));
        break;
    }
  }
}

void DownloadPage::ClearHandsetOutcomes() {
  for (int i = 0; i < rootNode->childCount(); ++i) rootNode->child(i)->setText(kOutcomeColumn, {});
}

void DownloadPage::SetProgress(const DownloadProgress& progress) {
  windowCalls_->Post([this, progress] {
    progressCell->SetProgress(progress);
    if (line_.downloadRunning.load()) {
      emit TrayProgressChanged(QString::fromStdString(ProgressToolTipLine(progress)));
    }
  });
}

void DownloadPage::SetStatusTimerEnabled(bool enabled) {
  windowCalls_->Post([this, enabled] {
    if (enabled) {
      statusTimer->start();  // (re)starts the 200 ms interval
    } else {
      statusTimer->stop();
    }
  });
}

void DownloadPage::StartStatusTimerIfStopped() {
  windowCalls_->Post([this] {
    if (!statusTimer->isActive()) statusTimer->start();
  });
}

}  // namespace orderlink
