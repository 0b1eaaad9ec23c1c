// SPDX-License-Identifier: MIT
#pragma once
// A dialog built from a shared template: every control at its place in dialog
// units, each carrying its control id (property "controlId", and its object
// name when it has an id of its own) so callers and tests can find it.
#include <QDialog>

#include "gui/qt/dialog_units.h"
#include "resources/dialog_templates.h"

class QListWidget;

namespace brivelton::qt {

inline constexpr char kControlIdProperty[] = "controlId";

class TemplateDialog : public QDialog {
  Q_OBJECT

 public:
  TemplateDialog(const ui::DialogTemplate& dialog, QWidget* parent,
                 Qt::WindowFlags flags);

  QWidget* Control(int id) const;
  template <class T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  const BaseUnits& units() const { return units_; }
  const ui::DialogTemplate& dialog_template() const { return dialog_; }

 protected:
  // A control beside the template's own, placed and found as they are.
  QWidget* AddControl(const ui::ControlTemplate& control);
  // Button 1 and Enter without a default button; ends the dialog with OK.
  virtual void OnOk() { accept(); }
  // Any other push button.
  virtual void OnCommand(int /*id*/) {}
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Runs the handler of control `id`; nothing it throws gets past.
  void Dispatch(int id);
  QWidget* MakeControl(const ui::ControlTemplate& control);

  const ui::DialogTemplate& dialog_;
  QFont font_;
  BaseUnits units_;
};

// A list box line is one text line high whatever it holds, as on Windows,
// where a trailing "\n" does not make a line taller.
void MakeOneLineList(QListWidget* list);

// The message list: a line too long for the list goes on in rows under it,
// indented, broken at spaces; nothing is cut.
void MakeWrappingList(QListWidget* list);
// How many rows `text` takes in such a list.
int WrappedRows(const QListWidget* list, const QString& text);

}  // namespace brivelton::qt
