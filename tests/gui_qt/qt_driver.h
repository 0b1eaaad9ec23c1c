// SPDX-License-Identifier: MIT
#pragma once
// Driving real Qt dialogs from a test: modal dialogs run their own event
// loop, so the test's steps for a dialog run from a timer inside that loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QListWidget>
#include <QStyleOptionButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <string>
#include <vector>

namespace brivelton::testing {

// Runs `steps` on the next modal dialog of type T once it is up. If none
// comes, the test fails and every open modal dialog is rejected, so the test
// ends instead of hanging. The wait ends with `context`, too.
template <class T>
void WhenModal(QObject* context, std::function<void(T*)> steps, int timeout_ms = 30000) {
  auto* timer = new QTimer(context);
  timer->setInterval(2);
  const QDeadlineTimer deadline(timeout_ms);
  QObject::connect(timer, &QTimer::timeout, [timer, deadline, steps] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      steps(dialog);
    } else if (deadline.hasExpired()) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " came up";
      for (int i = 0; i < 8; ++i)
        if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
    }
  });
  timer->start();
}

inline void Click(QWidget* widget) {
  ASSERT_NE(widget, nullptr);
  QTest::mouseClick(widget, Qt::LeftButton);
}

// A click on the box of a check box, where a user aims.
inline void ClickIndicator(QCheckBox* box) {
  ASSERT_NE(box, nullptr);
  QStyleOptionButton option;
  option.initFrom(box);
  option.text = box->text();
  const QRect indicator =
      box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
  QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

inline std::vector<std::string> Lines(const QListWidget* list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

}  // namespace brivelton::testing
