#include "access/PasswordForm.h"

#include <QLabel>
#include <QValidator>

#include "access/AccessFiles.h"
#include "common/Gbk.h"

namespace orderlink {

namespace {

// The file holds exactly 8 bytes: a Chinese character counts two. Text that cannot
// be stored at all is let through here and refused with its reason on saving.
class GbkLengthValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    const auto gbk = Utf8ToGbkExact(input.toStdString());
    return !gbk || gbk->size() <= kAdminPasswordBytes ? Acceptable : Invalid;
  }
};

}  // namespace

TForm1::TForm1(TxtDir txt, MessageSink& messages, QWidget* parent)
    : QDialog(parent), txt_(std::move(txt)), messages_(messages) {
  setObjectName("Form1");
  setWindowTitle("修改管理员密码");
  setFixedSize(273, 171);

  auto* prompt = new QLabel("请输入要设置的点菜器的管理员密码：", this);
  prompt->setGeometry(16, 16, 245, 22);
  auto* rule = new QLabel("（0～９中的最多８位数字）", this);
  rule->setGeometry(16, 40, 245, 22);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(16, 72, 241, 24);
  Edit1->setMaxLength(static_cast<int>(kAdminPasswordBytes));
  Edit1->setValidator(new GbkLengthValidator(Edit1));
  BitBtn1 = new QPushButton("修改并保存", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(86, 116, 100, 30);
  BitBtn1->setAutoDefault(false);

  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::BitBtn1Click);
}

void TForm1::BitBtn1Click() {
  if (const std::string problem = SaveAdminPassword(txt_, Edit1->text().toStdString());
      !problem.empty()) {
    messages_.ShowMessage(problem);
    return;
  }
  accept();
}

}  // namespace orderlink
