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

PasswordForm::PasswordForm(TxtDir txt, MessageSink& messages, QWidget* parent)
    : QDialog(parent), txt_(std::move(txt)), messages_(messages) {
  setObjectName("passwordForm");
  setWindowTitle("修改管理员密码");
  setFixedSize(273, 171);

  auto* prompt = new QLabel("请输入要设置的点菜器的管理员密码：", this);
  prompt->setGeometry(16, 16, 245, 22);
  auto* rule = new QLabel("（0～９中的最多８位数字）", this);
  rule->setGeometry(16, 40, 245, 22);
  passwordEdit = new QLineEdit(this);
  passwordEdit->setObjectName("passwordEdit");
  passwordEdit->setGeometry(16, 72, 241, 24);
  passwordEdit->setMaxLength(static_cast<int>(kAdminPasswordBytes));
  passwordEdit->setValidator(new GbkLengthValidator(passwordEdit));
  saveButton = new QPushButton("修改并保存", this);
  saveButton->setObjectName("saveButton");
  saveButton->setGeometry(86, 116, 100, 30);
  saveButton->setAutoDefault(false);

  connect(saveButton, &QPushButton::clicked, this, &PasswordForm::Save);
  connect(passwordEdit, &QLineEdit::returnPressed, this, &PasswordForm::Save);
}

void PasswordForm::showEvent(QShowEvent* event) {
  passwordEdit->clear();
  passwordEdit->setFocus();
  QDialog::showEvent(event);
}

void PasswordForm::Save() {
  if (const std::string problem = SaveAdminPassword(txt_, passwordEdit->text().toStdString());
      !problem.empty()) {
    messages_.ShowMessage(problem);
    return;
  }
  accept();
}

}  // namespace orderlink
