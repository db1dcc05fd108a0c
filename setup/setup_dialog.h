// The setup dialog: the target folder with Browse, OK to install, Cancel to
// leave. A thin front end over the installer; every message goes to the
// message sink (message boxes in the program, a list in the tests).
#pragma once
#include <QDialog>

#include "setup/install_layout.h"

class QLineEdit;
class QPushButton;

class SetupDialog : public QDialog {
  Q_OBJECT
 public:
  SetupDialog(install::Environment env, install::fs::path sourceFolder, QString initialPath,
              install::MessageSink message = {}, QWidget* parent = nullptr);

  QLineEdit* TargetEdit() const { return target_; }
  QPushButton* OkButton() const { return ok_; }
  bool Installed() const { return installed_; }

 private:
  void Browse();
  void Ok();
  void Show(const std::string& text);

  install::Environment env_;
  install::fs::path source_;
  install::MessageSink message_;
  QLineEdit* target_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool installed_ = false;
};
