#include "linktest/TestPage.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <numeric>

namespace orderlink {

namespace {

constexpr int kDefaultWaitMs = 500;
constexpr int kGridRowHeight = 15;
// The columns' own widths; a title that needs more room widens its column.
constexpr std::array<int, TestGrid::kColumns> kColumnWidths = {33, 56, 56, 70, 56, 56, 56, 70};
constexpr int kTitlePadding = 8;
constexpr int kTreeIndentation = 12;
constexpr int kBoxMargin = 4;
const QColor kSkyBlue(166, 202, 240);
const QColor kMoneyGreen(192, 220, 192);

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

// The record is read in Chinese whatever the PC's locale: the date as the Chinese
// long date ("2026年12月9日星期三"), the time on the 24-hour clock with seconds.
RecordTime NowInChinese() {
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  const QDateTime now = QDateTime::currentDateTime();
  return {chinese.toString(now.date(), QLocale::LongFormat).toStdString(),
          chinese.toString(now.time(), QStringLiteral("HH:mm:ss")).toStdString()};
}

// Draws every cell itself: row colours by grid row, the current row in money green,
// the text centred on one line.
class GridDelegate : public QStyledItemDelegate {
 public:
  explicit GridDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int gridRow = index.row() + 1;  // grid row 0 is the header
    QColor background = gridRow % 2 == 0 ? QApplication::palette("QMenuBar").color(QPalette::Window)
                                         : QApplication::palette("QMenu").color(QPalette::Window);
    if (view_->currentIndex().isValid() && view_->currentIndex().row() == index.row()) {
      background = kMoneyGreen;
    }
    painter->fillRect(option.rect, background);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, index.data().toString());
  }

 private:
  QTableView* view_;
};

}  // namespace

// The grid's handset rows; grid row 0 (the titles) is the fixed header.
class TestGridModel : public QAbstractTableModel {
 public:
  TestGridModel(const TestGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : grid_.RowCount() - 1;
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : TestGrid::kColumns;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return Q(grid_.Cell(index.row() + 1, index.column()));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    return Q(grid_.Cell(0, section));
  }

  void RowAdded() {
    const int row = rowCount({}) - 1;
    beginInsertRows({}, row, row);
    endInsertRows();
  }
  void CellsChanged() {
    if (rowCount({}) > 0)
      emit dataChanged(index(0, 0), index(rowCount({}) - 1, columnCount({}) - 1));
  }

 private:
  const TestGrid& grid_;
};

TestPage::TestPage(MessageSink& messages, SendThread* send, HandsetPoller* poller,
                   LineActivity& line, QWidget* parent)
    : QWidget(parent), messages_(messages), test_(messages, send, poller, *this, line) {
  auto* treeBox = new QGroupBox(QStringLiteral("无线点菜机"), this);
  handsetTree_ = new QTreeWidget(treeBox);
  handsetTree_->setObjectName(QStringLiteral("handsetTree"));
  handsetTree_->setHeaderHidden(true);
  handsetTree_->setColumnCount(1);
  handsetTree_->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(test_.Tree().Text(0))}));
  // Narrow steps, and width enough for the root's caption: the grid beside it needs
  // the rest of the window.
  handsetTree_->setIndentation(kTreeIndentation);
  handsetTree_->setMinimumWidth(
      handsetTree_->fontMetrics().horizontalAdvance(Q(test_.Tree().Text(0))) +
      2 * kTreeIndentation + 2 * handsetTree_->frameWidth() + kTitlePadding +
      handsetTree_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  auto* treeLayout = new QVBoxLayout(treeBox);
  treeLayout->setContentsMargins(kBoxMargin, kBoxMargin, kBoxMargin, kBoxMargin);
  treeLayout->addWidget(handsetTree_);
  connect(handsetTree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { CurrentTreeItemChanged(current); });

  auto* gridBox = new QGroupBox(QStringLiteral("状态显示"), this);
  statisticsGrid_ = new QTableView(gridBox);
  statisticsGrid_->setObjectName(QStringLiteral("statisticsGrid"));
  gridModel_ = new TestGridModel(test_.Grid(), this);
  BuildGrid();
  auto* gridLayout = new QVBoxLayout(gridBox);
  gridLayout->setContentsMargins(kBoxMargin, kBoxMargin, kBoxMargin, kBoxMargin);
  gridLayout->addWidget(statisticsGrid_);

  auto* waitLabel = new QLabel(QStringLiteral("等待时间："), this);
  waitEdit_ = new QLineEdit(QStringLiteral("500"), this);
  waitEdit_->setObjectName(QStringLiteral("waitEdit"));
  auto* unitLabel = new QLabel(QStringLiteral("毫秒"), this);

  startButton_ = new QPushButton(QStringLiteral("开始测试"), this);
  startButton_->setObjectName(QStringLiteral("startButton"));
  QFont bold = startButton_->font();
  bold.setBold(true);
  bold.setPixelSize(16);
  startButton_->setFont(bold);
  connect(startButton_, &QPushButton::clicked, this,
          [this] { test_.StartOrStop(waitEdit_->text().toStdString()); });

  resetCountersButton_ = new QToolButton(this);
  resetCountersButton_->setObjectName(QStringLiteral("resetCountersButton"));
  resetCountersButton_->setText(QStringLiteral("计数清零"));
  connect(resetCountersButton_, &QToolButton::clicked, this, [this] { test_.ResetCounters(); });

  saveRecordButton_ = new QToolButton(this);
  saveRecordButton_->setObjectName(QStringLiteral("saveRecordButton"));
  saveRecordButton_->setText(QStringLiteral("保存记录"));
  connect(saveRecordButton_, &QToolButton::clicked, this,
          [this] { SaveTestRecordAs(test_.Grid(), *this, messages_, NowInChinese); });

  testTimer_ = new QTimer(this);
  testTimer_->setObjectName(QStringLiteral("testTimer"));
  testTimer_->setInterval(kDefaultWaitMs);
  connect(testTimer_, &QTimer::timeout, this, [this] { test_.TestStep(); });

  auto* controls = new QHBoxLayout;
  controls->addWidget(waitLabel);
  controls->addWidget(waitEdit_);
  controls->addWidget(unitLabel);
  controls->addStretch();
  controls->addWidget(startButton_);
  controls->addWidget(resetCountersButton_);
  controls->addWidget(saveRecordButton_);

  auto* top = new QHBoxLayout;
  top->addWidget(treeBox, 1);
  top->addWidget(gridBox, 3);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kBoxMargin, kBoxMargin, kBoxMargin, kBoxMargin);
  layout->addLayout(top);
  layout->addLayout(controls);
}

void TestPage::BuildGrid() {
  statisticsGrid_->setModel(gridModel_);
  statisticsGrid_->setItemDelegate(new GridDelegate(statisticsGrid_));
  statisticsGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  statisticsGrid_->setSelectionMode(QAbstractItemView::SingleSelection);
  statisticsGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  statisticsGrid_->setShowGrid(true);
  statisticsGrid_->verticalHeader()->hide();
  // Row height 15 unless the font needs more.
  const int rowHeight = std::max(kGridRowHeight, statisticsGrid_->fontMetrics().height() + 2);
  statisticsGrid_->verticalHeader()->setMinimumSectionSize(rowHeight);
  statisticsGrid_->verticalHeader()->setDefaultSectionSize(rowHeight);
  statisticsGrid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  QHeaderView* titles = statisticsGrid_->horizontalHeader();
  titles->setMinimumSectionSize(0);
  titles->setSectionResizeMode(QHeaderView::Fixed);
  titles->setHighlightSections(false);
  titles->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: %1; border: 0; }")
                            .arg(kSkyBlue.name()));
  // Every column stays inside the grid: no horizontal scroll bar; the widths are
  // shared out in proportion whenever the grid's width changes (FitColumns), and the
  // grid asks the layout for room enough for all of them and a vertical scroll bar.
  statisticsGrid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const QFontMetrics titleMetrics(titles->font());
  int total = 0;
  for (int c = 0; c < TestGrid::kColumns; ++c) {
    columnWidths_[c] =
        std::max(kColumnWidths[c],
                 titleMetrics.horizontalAdvance(Q(test_.Grid().Cell(0, c))) + kTitlePadding);
    total += columnWidths_[c];
    statisticsGrid_->setColumnWidth(c, columnWidths_[c]);
  }
  statisticsGrid_->setMinimumWidth(
      total + 2 * statisticsGrid_->frameWidth() +
      statisticsGrid_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  statisticsGrid_->viewport()->installEventFilter(this);
  // The whole current row is drawn highlighted, so both rows repaint when it moves.
  connect(statisticsGrid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { statisticsGrid_->viewport()->update(); });
}

bool TestPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == statisticsGrid_->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QWidget::eventFilter(watched, event);
}

void TestPage::FitColumns() {
  const int available = statisticsGrid_->viewport()->width();
  const int total = std::accumulate(columnWidths_.begin(), columnWidths_.end(), 0);
  if (available <= 0 || total <= 0) return;
  int used = 0;
  for (int c = 0; c < TestGrid::kColumns; ++c) {
    // The last column takes what rounding left over, so the row ends at the edge.
    const int width =
        c + 1 == TestGrid::kColumns
            ? available - used
            : static_cast<int>(static_cast<long long>(available) * columnWidths_[c] / total);
    statisticsGrid_->setColumnWidth(c, width);
    used += width;
  }
}

void TestPage::ShowTestedRow() {
  const auto node = test_.Tree().FirstTicked();
  if (!node) return;
  const QModelIndex row = gridModel_->index(*node - 1, 0);
  statisticsGrid_->setCurrentIndex(row);
  statisticsGrid_->scrollTo(row, QAbstractItemView::PositionAtCenter);
}

void TestPage::AddHandset(const std::string& text) {
  test_.AddHandset(text);
  auto* item = new QTreeWidgetItem(QStringList{Q(text)});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);  // ticked by selecting, not by the box
  item->setCheckState(0, Qt::Unchecked);
  handsetTree_->topLevelItem(0)->addChild(item);
  gridModel_->RowAdded();
}

void TestPage::HandsetsComplete() {
  handsetTree_->topLevelItem(0)->setExpanded(true);
  if (gridModel_->rowCount({}) > 0) statisticsGrid_->setCurrentIndex(gridModel_->index(0, 0));
}

void TestPage::CurrentTreeItemChanged(QTreeWidgetItem* current) {
  if (current == nullptr) return;
  QTreeWidgetItem* root = handsetTree_->topLevelItem(0);
  test_.SelectNode(current == root ? 0 : root->indexOfChild(current) + 1);
}

void TestPage::ShowRunning(bool running) {
  startButton_->setText(running ? QStringLiteral("停止测试") : QStringLiteral("开始测试"));
  if (running) ShowTestedRow();
  resetCountersButton_->setEnabled(!running);
  saveRecordButton_->setEnabled(!running);
  handsetTree_->setEnabled(!running);
}

void TestPage::SetTestTimer(bool enabled, int intervalMs) {
  if (!enabled) {
    testTimer_->stop();
    return;
  }
  testTimer_->setInterval(intervalMs);
  testTimer_->start();
}

void TestPage::GridChanged() { gridModel_->CellsChanged(); }

void TestPage::TreeChanged() {
  const HandsetTree& tree = test_.Tree();
  QTreeWidgetItem* root = handsetTree_->topLevelItem(0);
  for (int i = 1; i < tree.NodeCount(); ++i) {
    root->child(i - 1)->setCheckState(
        0, tree.State(i) == HandsetTree::kTicked ? Qt::Checked : Qt::Unchecked);
  }
  ShowTestedRow();
}

std::optional<std::filesystem::path> TestPage::Execute(const SaveDialogOptions& options) {
  QFileDialog dialog(this, Q(options.title));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(Q(options.filterName + " (" + options.filterPattern + ")"));
  dialog.setSidebarUrls({});
  dialog.selectFile(Q(options.proposedName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return std::filesystem::path(dialog.selectedFiles().first().toStdString());
}

}  // namespace orderlink
