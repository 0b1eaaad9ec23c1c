// SPDX-License-Identifier: MIT
#include "gui/qt/template_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/log_rows.h"
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

// A list box that shows when it has the keyboard's focus, as Windows draws
// a focused list box's caret: a dotted frame inside its edge.
class ListBox : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QListWidget::paintEvent(event);
    if (!hasFocus()) return;
    // Drawn here: some styles draw a focus frame only after a Tab.
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.drawRect(viewport()->rect().adjusted(1, 1, -2, -2));
  }
  void focusInEvent(QFocusEvent* event) override {
    QListWidget::focusInEvent(event);
    viewport()->update();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QListWidget::focusOutEvent(event);
    viewport()->update();
  }
};

// The rows of a message list's line, drawn by hand: the style would elide.
class WrappingDelegate : public QStyledItemDelegate {
 public:
  explicit WrappingDelegate(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}

  std::vector<std::string> Rows(const QString& text, const QFontMetrics& metrics) const {
    std::string line = text.toStdString();
    // A trailing newline does not make a line taller, as on Windows.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return WrapLogLine(line, Width(), Indent(metrics), [&metrics](std::string_view part) {
      return metrics.horizontalAdvance(
          QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size())));
    });
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const auto rows = Rows(index.data().toString(), option.fontMetrics);
    return {Width(), static_cast<int>(rows.size()) * option.fontMetrics.height()};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QFontMetrics& metrics = option.fontMetrics;
    const auto rows = Rows(index.data().toString(), metrics);
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    int y = option.rect.top();
    for (size_t i = 0; i < rows.size(); ++i, y += metrics.height()) {
      const int x = option.rect.left() + Margin() + (i ? Indent(metrics) : 0);
      painter->drawText(QRect(x, y, option.rect.right() - x, metrics.height()),
                        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                        QString::fromStdString(rows[i]));
    }
    painter->restore();
  }

 private:
  int Margin() const { return list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1; }
  static int Indent(const QFontMetrics& metrics) { return 3 * metrics.averageCharWidth(); }
  // The same with or without the scroll bar, so that no line changes its
  // rows when the bar comes.
  int Width() const {
    const QScrollBar* bar = list_->verticalScrollBar();
    const int bar_width = bar && bar->isVisible() ? 0 : list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return list_->viewport()->width() - bar_width - 2 * Margin();
  }

  QListWidget* list_;
};

}  // namespace

void MakeOneLineList(QListWidget* list) {
  list->setItemDelegate(new OneLineDelegate(list));
  list->setUniformItemSizes(true);
}

void MakeWrappingList(QListWidget* list) {
  list->setItemDelegate(new WrappingDelegate(list));
  list->setUniformItemSizes(false);
}

int WrappedRows(const QListWidget* list, const QString& text) {
  const auto* delegate = dynamic_cast<const WrappingDelegate*>(list->itemDelegate());
  if (!delegate) return 1;
  return static_cast<int>(delegate->Rows(text, list->fontMetrics()).size());
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
  for (const auto& control : dialog.controls) AddControl(control);
  // Where controls overlap the first one of the template is on top, as in
  // the Windows dialog manager.
  const QObjectList created = children();
  for (auto it = created.rbegin(); it != created.rend(); ++it)
    if (auto* widget = qobject_cast<QWidget*>(*it)) widget->raise();
}

QWidget* TemplateDialog::AddControl(const ui::ControlTemplate& control) {
  QWidget* widget = MakeControl(control);
  widget->setProperty(kControlIdProperty, control.id);
  if (control.id != ui::kIdStatic) widget->setObjectName(QString::number(control.id));
  if (!control.visible) widget->hide();
  return widget;
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
      auto* list = new ListBox(this);
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
