// Dialog 153 of Rename After Recovery: the new short name (control id 1053,
// at most 8 characters) and extension (1054, at most 3), filled with the
// entry's present name. The dialog gathers the texts and holds a name the
// core's check refuses, showing why; the core stores them.
#pragma once
#include <QDialog>
#include <QString>

#include "recovery/rename_entry.h"

class QLabel;
class QLineEdit;

inline constexpr int kRenameNameId = 1053;
inline constexpr int kRenameExtensionId = 1054;

class RenameDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RenameDialog(QWidget* parent = nullptr, ShortNameCheck check = {});

  // The two texts as the core takes them (UTF-8).
  ShortNameInput Input() const;
  QLineEdit* NameBox() const { return name_; }
  QLineEdit* ExtensionBox() const { return extension_; }
  // The refusal of the name last offered (empty and hidden while there is none).
  QLabel* RefusalLabel() const { return refusal_; }

  // OK: closes only with a name the check takes.
  void accept() override;

  // Runs the dialog modally over parent: the AskShortName the core's
  // RenameAfterRecovery calls between its checks and the change.
  static AskShortName Asker(QWidget* parent);

 private:
  QLineEdit* name_ = nullptr;
  QLineEdit* extension_ = nullptr;
  QLabel* refusal_ = nullptr;
  ShortNameCheck check_;
};
