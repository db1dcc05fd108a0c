// "Enter Bytes to Change": the 16 bytes of one dump row in two rows of eight
// boxes (control ids 1000-1007 above 1008-1015), each two hexadecimal
// characters. The dialog only gathers the texts; the editor reads them.
#pragma once
#include <QDialog>
#include <QString>
#include <array>

class QLineEdit;

using ByteBoxTexts = std::array<QString, 16>;

class ByteDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ByteDialog(const ByteBoxTexts& texts, QWidget* parent = nullptr);

  ByteBoxTexts Texts() const;
  // The box of control id 1000 + k.
  QLineEdit* Box(int controlId) const;

 private:
  std::array<QLineEdit*, 16> boxes_{};
};
