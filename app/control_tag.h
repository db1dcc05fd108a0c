// A dialog control tagged with its control id: the prompt port finds it by
// the "controlId" property, and tests by its object name.
#pragma once
#include <QString>
#include <QWidget>

template <typename W>
W* Tagged(W* widget, int id) {
  widget->setObjectName(QString::number(id));
  widget->setProperty("controlId", id);
  return widget;
}
