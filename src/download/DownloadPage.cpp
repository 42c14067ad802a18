#include "download/DownloadPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
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
  setFixedSize(kColumnWidth + 2 * kLineWidth, kRowHeight + 2 * kLineWidth);
}

void ProgressGrid::SetProgress(const DownloadProgress& progress) {
  progress_ = progress;
  update();
}

QRect ProgressGrid::CellRect() const {
  return QRect(kLineWidth, kLineWidth, kColumnWidth, kRowHeight);
}

int ProgressGrid::TextLeft() const {
  return CentredTextLeft(CellRect().left(), CellRect().width(),
                         fontMetrics().horizontalAdvance(Text()));
}

int ProgressGrid::FillWidth() const {
  if (progress_.total <= 0) return 0;
  const int done = std::clamp(progress_.done, 0, progress_.total);
  return static_cast<int>(static_cast<long long>(kColumnWidth) * done / progress_.total);
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
  painter.drawText(TextLeft(), cell.top() + kTextTop + fontMetrics().ascent(), Text());
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

  GroupBox3 = Named(new QGroupBox(U("无线点菜机"), this), "GroupBox3");
  TreeView2 = Named(new QTreeWidget(GroupBox3), "TreeView2");
  TreeView2->setHeaderHidden(true);
  TreeView2->setColumnCount(1);
  rootNode = new QTreeWidgetItem(TreeView2, QStringList(U(kRootText)));
  rootNode->setData(0, kStateRole, kNoState);
  TreeView2->hide();  // shown once start-up has filled it
  notSelectedIcon_ = StatePicture(TreeView2, false);
  selectedIcon_ = StatePicture(TreeView2, true);
  CheckBox1 = Named(new QCheckBox(U("全选"), GroupBox3), "CheckBox1");
  Label3 = Named(new QLabel(U("共："), GroupBox3), "Label3");
  Label4 = Named(new QLabel(QStringLiteral("0"), GroupBox3), "Label4");
  Label4->setStyleSheet(QStringLiteral("color: red;"));
  Label5 = Named(new QLabel(U("个"), GroupBox3), "Label5");
  auto* counterRow = new QHBoxLayout;
  counterRow->addWidget(CheckBox1);
  counterRow->addStretch();
  counterRow->addWidget(Label3);
  counterRow->addWidget(Label4);
  counterRow->addWidget(Label5);
  auto* treeColumn = new QVBoxLayout(GroupBox3);
  treeColumn->addWidget(TreeView2);
  treeColumn->addLayout(counterRow);

  GroupBox4 = Named(new QGroupBox(U("下传内容"), this), "GroupBox4");
  auto* boxes = new QGridLayout(GroupBox4);
  int shown = 0;
  for (int i = 0; i < kDownloadTableCount; ++i) {
    const DownloadTable& table = kDownloadTables[i];
    auto* box = Named(new QCheckBox(U(table.caption), GroupBox4), table.checkBox);
    box->setChecked(table.tickedAtStart);
    if (table.visible) {
      boxes->addWidget(box, shown / 4, shown % 4);
      ++shown;
    } else {
      box->hide();
    }
    tableBoxes_[i] = box;
  }
  CheckBox_TJCP = findChild<QCheckBox*>(QStringLiteral("CheckBox_TJCP"));
  CheckBox_TJCPNR = findChild<QCheckBox*>(QStringLiteral("CheckBox_TJCPNR"));
  CheckBox_XGMM = findChild<QCheckBox*>(QStringLiteral("CheckBox_XGMM"));

  GroupBox6 = Named(new QGroupBox(U("下传进度显示"), this), "GroupBox6");
  StringGrid5 = Named(new ProgressGrid(GroupBox6), "StringGrid5");
  auto* progressBox = new QVBoxLayout(GroupBox6);
  progressBox->addWidget(StringGrid5, 0, Qt::AlignCenter);

  GroupBox7 = Named(new QGroupBox(U("下载说明"), this), "GroupBox7");
  Memo3 = Named(new QPlainTextEdit(GroupBox7), "Memo3");
  Memo3->setReadOnly(true);
  QStringList lines;
  for (const char* line : kInstructions) lines << U(line);
  Memo3->setPlainText(lines.join(QLatin1Char('\n')));
  auto* memoBox = new QVBoxLayout(GroupBox7);
  memoBox->addWidget(Memo3);

  BitBtn_SEND = Named(new QPushButton(U(kSendCaptionFirst), this), "BitBtn_SEND");
  BitBtn2 = Named(new QPushButton(U("修改管理员密码"), this), "BitBtn2");
  BitBtn2->hide();
  Timer6 = Named(new QTimer(this), "Timer6");
  Timer6->setInterval(200);

  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn_SEND);
  buttons->addWidget(BitBtn2);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(GroupBox7, 1);
  bottom->addLayout(buttons);
  auto* right = new QVBoxLayout;
  right->addWidget(GroupBox4);
  right->addWidget(GroupBox6);
  right->addLayout(bottom, 1);
  auto* page = new QHBoxLayout(this);
  page->addWidget(GroupBox3);
  page->addLayout(right, 1);

  connect(TreeView2, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (current != nullptr) TreeView2Change(current);
          });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  for (QCheckBox* box : {CheckBox_XGMM, CheckBox_TJCP, CheckBox_TJCPNR}) {
    connect(box, &QCheckBox::clicked, this, [this] { CheckBox_XGMMClick(); });
  }
  connect(BitBtn2, &QPushButton::clicked, this, [this] {
    if (openPasswordForm_) openPasswordForm_();
  });
  connect(BitBtn_SEND, &QPushButton::clicked, this, [this] {
    if (controller_ != nullptr) controller_->BitBtn_SENDClick();
  });
  connect(Timer6, &QTimer::timeout, this, [this] {
    if (controller_ != nullptr) controller_->Timer6Timer();
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
  Label4->setText(QString::number(Label4->text().toInt() + delta));
}

void DownloadPage::TreeView2Change(QTreeWidgetItem* node) {
  if (NodeState(node) == kSelected) {
    SetNodeState(node, kNotSelected);
    AddToCounter(-1);
  } else {
    SetNodeState(node, kSelected);
    if (node->text(0) != U(kRootText)) AddToCounter(1);
  }
  SetNodeState(rootNode, kNoState);
}

void DownloadPage::CheckBox1Click() {
  const bool all = CheckBox1->isChecked();
  if (!all) Label4->setText(QStringLiteral("0"));
  if (TreeView2->isHidden()) return;
  if (all) Label4->setText(QString::number(rootNode->childCount()));
  for (int i = 0; i < rootNode->childCount(); ++i) {
    SetNodeState(rootNode->child(i), all ? kSelected : kNotSelected);
  }
  SetNodeState(rootNode, kNoState);
}

void DownloadPage::CheckBox_XGMMClick() {
  if (CheckBox_XGMM->isChecked() && openPasswordForm_) openPasswordForm_();
}

void DownloadPage::AddHandset(const std::string& text) {
  auto* node = new QTreeWidgetItem(rootNode, QStringList(QString::fromStdString(text)));
  SetNodeState(node, kNotSelected);
}

void DownloadPage::HandsetsComplete() {
  TreeView2->show();
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

int DownloadPage::HandsetCounter() const { return Label4->text().toInt(); }

void DownloadPage::SetSendCaption(const std::string& utf8) {
  const QString caption = QString::fromStdString(utf8);
  BitBtn_SEND->setText(caption);
  if (caption != U(kSendCaptionRunning)) emit TrayProgressChanged(QString());
}

void DownloadPage::SetInputsEnabled(bool enabled) {
  for (QCheckBox* box : tableBoxes_) box->setEnabled(enabled);
  TreeView2->setEnabled(enabled);
  CheckBox1->setEnabled(enabled);
}

void DownloadPage::SetProgress(const DownloadProgress& progress) {
  windowCalls_->Post([this, progress] {
    StringGrid5->SetProgress(progress);
    if (line_.downloadRunning.load()) {
      emit TrayProgressChanged(QString::fromStdString(ProgressToolTipLine(progress)));
    }
  });
}

void DownloadPage::SetTimer6Enabled(bool enabled) {
  windowCalls_->Post([this, enabled] {
    if (enabled) {
      Timer6->start();  // (re)starts the 200 ms interval
    } else {
      Timer6->stop();
    }
  });
}

void DownloadPage::StartTimer6IfStopped() {
  windowCalls_->Post([this] {
    if (!Timer6->isActive()) Timer6->start();
  });
}

}  // namespace orderlink
