// "About Gleaner": the program's icon, name and version, and an OK button.
#pragma once
#include <QDialog>

inline constexpr const char* kAboutTitle = "About Gleaner";
inline constexpr const char* kAboutVersionLine = "Gleaner Version 1.0";
inline constexpr const char* kAboutYearLine = "Gleaner 2001";

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};
