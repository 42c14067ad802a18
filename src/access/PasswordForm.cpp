#include "access/PasswordForm.h"

#include <QLabel>
#include <QValidator>

#include "access/AccessFiles.h"
#include "common/Gbk.h"

namespace orderlink {

namespace {

// The file holds exactly 8 bytes: a Chinese character counts two.
class GbkLengthValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return Utf8ToGbk(input.toStdString()).size() <= kAdminPasswordBytes ? Acceptable : Invalid;
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
  if (!WriteAdminPasswordFile(txt_, Edit1->text().toStdString())) {
    messages_.ShowMessage("管理员密码.txt文件无法写入，密码没有保存！");
    return;
  }
  accept();
}

}  // namespace orderlink
