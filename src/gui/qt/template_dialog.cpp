// SPDX-License-Identifier: MIT
#include "gui/qt/template_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <cstdio>
#include <exception>

#include "gui/qt/adapter_icon.h"

namespace brivelton::qt {

// Nothing may leave a slot into Qt's event loop: the handler is given up and
// the window stays.
void TemplateDialog::Dispatch(int id) {
  try {
    if (id == ui::kIdOk)
      OnOk();
    else if (id == ui::kIdCancel)
      reject();
    else
      OnCommand(id);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brivelton-utility: control %d stopped: %s\n", id, e.what());
  } catch (...) {
    std::fprintf(stderr, "brivelton-utility: control %d stopped\n", id);
  }
}

namespace {

// A Windows check box toggles on a click anywhere in its rectangle, not only
// on the box and its text.
class CheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

class OneLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  // A list without selection marks no current line either.
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem plain = option;
    plain.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, plain, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(option.fontMetrics.height());
    return size;
  }
};

}  // namespace

void MakeOneLineList(QListWidget* list) {
  list->setItemDelegate(new OneLineDelegate(list));
  list->setUniformItemSizes(true);
}

TemplateDialog::TemplateDialog(const ui::DialogTemplate& dialog, QWidget* parent,
                               Qt::WindowFlags flags)
    : QDialog(parent, flags),
      dialog_(dialog),
      font_(DialogFont(dialog)),
      units_(DialogBaseUnits(font_)) {
  setFont(font_);
  setWindowTitle(QString::fromUtf8(dialog.title));
  setFixedSize(DuToPxX(dialog.w, units_), DuToPxY(dialog.h, units_));
  for (const auto& control : dialog.controls) {
    QWidget* widget = MakeControl(control);
    widget->setProperty(kControlIdProperty, control.id);
    if (control.id != ui::kIdStatic) widget->setObjectName(QString::number(control.id));
    if (!control.visible) widget->hide();
  }
  // Where controls overlap the first one of the template is on top, as in
  // the Windows dialog manager.
  const QObjectList created = children();
  for (auto it = created.rbegin(); it != created.rend(); ++it)
    if (auto* widget = qobject_cast<QWidget*>(*it)) widget->raise();
}

QWidget* TemplateDialog::MakeControl(const ui::ControlTemplate& control) {
  using K = ui::ControlKind;
  const QRect place = DuToPx(control.x, control.y, control.w, control.h, units_);
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case K::kLabel: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(true);
      label->setGeometry(place);
      return label;
    }
    case K::kIcon: {
      // An icon control takes the icon's own size, not the template's.
      auto* label = new QLabel(this);
      const QPixmap pixmap = AdapterIcon().pixmap(32, 32);
      label->setPixmap(pixmap);
      label->setGeometry(QRect(place.topLeft(), QSize(32, 32)));
      return label;
    }
    case K::kListBox: {
      auto* list = new QListWidget(this);
      list->setSelectionMode(QAbstractItemView::NoSelection);
      list->setFocusPolicy(Qt::StrongFocus);
      list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      MakeOneLineList(list);
      list->setGeometry(place);
      return list;
    }
    case K::kPushButton:
    case K::kDefPushButton: {
      // Qt would make the first auto-default button the default one; here,
      // as on Windows, only the template's default button is, and Enter
      // goes where keyPressEvent sends it.
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(false);
      button->setDefault(control.kind == K::kDefPushButton);
      button->setGeometry(place);
      const int id = control.id;
      connect(button, &QPushButton::clicked, this, [this, id] { Dispatch(id); });
      return button;
    }
    case K::kChoiceList: {
      auto* list = new QListWidget(this);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      list->setUniformItemSizes(true);
      list->setGeometry(place);
      return list;
    }
    case K::kEdit: {
      auto* edit = new QLineEdit(this);
      edit->setGeometry(place);
      return edit;
    }
    case K::kCheckBox: {
      auto* box = new CheckBox(text, this);
      box->setGeometry(place);
      return box;
    }
    case K::kDropDownList: {
      // The template's height is that of the open list; the closed box is as
      // high as its font needs.
      auto* combo = new QComboBox(this);
      for (const char* item : control.items) combo->addItem(QString::fromUtf8(item));
      combo->setMaxVisibleItems(static_cast<int>(control.items.size()));
      combo->setGeometry(place.x(), place.y(), place.width(), combo->sizeHint().height());
      return combo;
    }
  }
  return new QWidget(this);
}

QWidget* TemplateDialog::Control(int id) const {
  for (QObject* child : children()) {
    const QVariant control_id = child->property(kControlIdProperty);
    if (control_id.isValid() && control_id.toInt() == id) return qobject_cast<QWidget*>(child);
  }
  return nullptr;
}

void TemplateDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    // The Windows dialog rule: Enter presses the focused push button, else
    // the default button, else it is OK.
    auto usable = [](const QPushButton* b) { return b && b->isVisible() && b->isEnabled(); };
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); usable(focused)) {
      focused->click();
      return;
    }
    for (QPushButton* button : findChildren<QPushButton*>()) {
      if (button->isDefault() && usable(button)) {
        button->click();
        return;
      }
    }
    Dispatch(ui::kIdOk);
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace brivelton::qt
