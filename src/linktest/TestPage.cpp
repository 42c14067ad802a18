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
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace orderlink {

namespace {

constexpr int kTimer1DefaultMs = 500;
constexpr int kGridRowHeight = 15;
constexpr std::array<int, TestGrid::kColumns> kColumnWidths = {33, 56, 56, 70, 56, 56, 56, 70};
const QColor kSkyBlue(166, 202, 240);
const QColor kMoneyGreen(192, 220, 192);

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

RecordTime NowInSystemFormats() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  return {locale.toString(now.date(), QLocale::ShortFormat).toStdString(),
          locale.toString(now.time(), QLocale::LongFormat).toStdString()};
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

TestPage::TestPage(MessageSink& messages, SendThread* send, HandsetPoller* poller, LineActivity& line,
                   QWidget* parent)
    : QWidget(parent), messages_(messages), test_(messages, send, poller, *this, line) {
  auto* treeBox = new QGroupBox(QStringLiteral("无线点菜机"), this);
  TreeView1 = new QTreeWidget(treeBox);
  TreeView1->setObjectName(QStringLiteral("TreeView1"));
  TreeView1->setHeaderHidden(true);
  TreeView1->setColumnCount(1);
  TreeView1->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(test_.Tree().Text(0))}));
  (new QVBoxLayout(treeBox))->addWidget(TreeView1);
  connect(TreeView1, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { TreeView1Changed(current); });

  auto* gridBox = new QGroupBox(QStringLiteral("状态显示"), this);
  StringGrid1 = new QTableView(gridBox);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  gridModel_ = new TestGridModel(test_.Grid(), this);
  BuildGrid();
  (new QVBoxLayout(gridBox))->addWidget(StringGrid1);

  auto* waitLabel = new QLabel(QStringLiteral("等待时间："), this);
  Edit1 = new QLineEdit(QStringLiteral("500"), this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  auto* unitLabel = new QLabel(QStringLiteral("毫秒"), this);

  BitBtn_CS = new QPushButton(QStringLiteral("开始测试"), this);
  BitBtn_CS->setObjectName(QStringLiteral("BitBtn_CS"));
  QFont bold = BitBtn_CS->font();
  bold.setBold(true);
  bold.setPixelSize(16);
  BitBtn_CS->setFont(bold);
  connect(BitBtn_CS, &QPushButton::clicked, this,
          [this] { test_.BitBtn_CSOnClick(Edit1->text().toStdString()); });

  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setText(QStringLiteral("计数清零"));
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { test_.SpeedButton1Click(); });

  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
  SpeedButton2->setText(QStringLiteral("保存记录"));
  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { SaveTestRecordAs(test_.Grid(), *this, messages_, NowInSystemFormats); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kTimer1DefaultMs);
  connect(Timer1, &QTimer::timeout, this, [this] { test_.Timer1Timer(); });

  auto* controls = new QHBoxLayout;
  controls->addWidget(waitLabel);
  controls->addWidget(Edit1);
  controls->addWidget(unitLabel);
  controls->addStretch();
  controls->addWidget(BitBtn_CS);
  controls->addWidget(SpeedButton1);
  controls->addWidget(SpeedButton2);

  auto* top = new QHBoxLayout;
  top->addWidget(treeBox, 1);
  top->addWidget(gridBox, 3);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(controls);
}

void TestPage::BuildGrid() {
  StringGrid1->setModel(gridModel_);
  StringGrid1->setItemDelegate(new GridDelegate(StringGrid1));
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setShowGrid(true);
  StringGrid1->verticalHeader()->hide();
  // Row height 15 unless the font needs more.
  const int rowHeight = std::max(kGridRowHeight, StringGrid1->fontMetrics().height() + 2);
  StringGrid1->verticalHeader()->setMinimumSectionSize(rowHeight);
  StringGrid1->verticalHeader()->setDefaultSectionSize(rowHeight);
  StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  QHeaderView* titles = StringGrid1->horizontalHeader();
  titles->setMinimumSectionSize(0);
  titles->setSectionResizeMode(QHeaderView::Fixed);
  titles->setHighlightSections(false);
  titles->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: %1; border: 0; }")
                            .arg(kSkyBlue.name()));
  for (int c = 0; c < TestGrid::kColumns; ++c) StringGrid1->setColumnWidth(c, kColumnWidths[c]);
  // The whole current row is drawn highlighted, so both rows repaint when it moves.
  connect(StringGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { StringGrid1->viewport()->update(); });
}

void TestPage::AddHandset(const std::string& text) {
  test_.AddHandset(text);
  auto* item = new QTreeWidgetItem(QStringList{Q(text)});
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);  // ticked by selecting, not by the box
  item->setCheckState(0, Qt::Unchecked);
  TreeView1->topLevelItem(0)->addChild(item);
  gridModel_->RowAdded();
}

void TestPage::HandsetsComplete() {
  TreeView1->topLevelItem(0)->setExpanded(true);
  if (gridModel_->rowCount({}) > 0) StringGrid1->setCurrentIndex(gridModel_->index(0, 0));
}

void TestPage::TreeView1Changed(QTreeWidgetItem* current) {
  if (current == nullptr) return;
  QTreeWidgetItem* root = TreeView1->topLevelItem(0);
  test_.TreeView1Change(current == root ? 0 : root->indexOfChild(current) + 1);
}

void TestPage::ShowRunning(bool running) {
  BitBtn_CS->setText(running ? QStringLiteral("停止测试") : QStringLiteral("开始测试"));
  SpeedButton1->setEnabled(!running);
  SpeedButton2->setEnabled(!running);
  TreeView1->setEnabled(!running);
}

void TestPage::SetTimer1(bool enabled, int intervalMs) {
  if (!enabled) {
    Timer1->stop();
    return;
  }
  Timer1->setInterval(intervalMs);
  Timer1->start();
}

void TestPage::GridChanged() { gridModel_->CellsChanged(); }

void TestPage::TreeChanged() {
  const HandsetTree& tree = test_.Tree();
  QTreeWidgetItem* root = TreeView1->topLevelItem(0);
  for (int i = 1; i < tree.NodeCount(); ++i) {
    root->child(i - 1)->setCheckState(
        0, tree.State(i) == HandsetTree::kTicked ? Qt::Checked : Qt::Unchecked);
  }
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
