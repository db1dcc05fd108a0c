// "Goto a Specific Sector": one box (control id 1015) for a sector number.
// The dialog only gathers the text; the editor reads it as a number.
#pragma once
#include <QDialog>
#include <QString>

class QLineEdit;

class GotoDialog : public QDialog {
  Q_OBJECT
 public:
  explicit GotoDialog(const QString& text, QWidget* parent = nullptr);

  QString Text() const;
  QLineEdit* Box() const { return box_; }

 private:
  QLineEdit* box_ = nullptr;
};
