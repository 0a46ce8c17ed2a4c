// The template laid out as Windows lays out a dialog resource: every
// rectangle from dialog units of the dialog's font, each class and style
// mapped to the widget that looks and behaves like it.

#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_resources.h"
#include "ui/qt/qt_text.h"

namespace qor {

namespace {

bool has(const ControlTemplate& control, uint32_t style) {
    return (control.style & style) != 0;
}

}  // namespace

void QtDialogWindow::layOut(const DialogTemplate& dialogTemplate) {
    setFont(dialogFont(dialogTemplate.fontPoints));
    m_baseUnits = dialogBaseUnits(font());
    setWindowTitle(QString::fromUtf8(dialogTemplate.caption));

    const QRect client = dialogUnitsToPixels(dialogTemplate.rect, m_baseUnits);
    m_templateClientSize = client.size();
    setFixedSize(m_templateClientSize);
    // The template's position; the host centres the window once the dialog
    // has initialised, as the dialog framework does.
    m_templatePosition = client.topLeft();
    move(m_templatePosition);

    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = makeControl(control);
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setProperty("controlId", control.id);
        widget->setProperty("templateStyle", control.style);
        m_items[control.id] = widget;
        if (control.text != nullptr) {
            setItemText(control.id, control.text);
        }
        if (control.bitmapId != 0) {
            // The control takes its bitmap's size at the template's corner.
            setPicture(control.id, control.bitmapId);
        }
        widget->setEnabled(!has(control, control_style::kDisabled));
        widget->setVisible(has(control, control_style::kVisible));
    }
    setTabOrder(dialogTemplate);
}

QWidget* QtDialogWindow::makeControl(const ControlTemplate& control) {
    const QRect rect = dialogUnitsToPixels(control.rect, m_baseUnits);
    QWidget* widget = nullptr;
    switch (control.controlClass) {
        case ControlClass::PushButton: {
            auto* button = new QPushButton(this);
            // Not a default button: Enter does not press it from elsewhere.
            button->setDefault(false);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, id = control.id] {
                deliver({DialogEvent::Clicked, id});
            });
            widget = button;
            widget->setGeometry(rect);
            break;
        }
        case ControlClass::Static: {
            auto* label = new QLabel(this);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(
                (has(control, control_style::kCentred) ? Qt::AlignHCenter : Qt::AlignLeft) |
                Qt::AlignTop);
            widget = label;
            widget->setGeometry(rect);
            break;
        }
        case ControlClass::BitmapStatic: {
            auto* picture = new QLabel(this);
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = picture;
            widget->setGeometry(rect);
            break;
        }
        case ControlClass::AutoRadioButton: {
            auto* radio = new QRadioButton(this);
            radio->setAutoExclusive(true);
            connect(radio, &QRadioButton::clicked, this, [this, id = control.id] {
                deliver({DialogEvent::Clicked, id});
            });
            widget = radio;
            widget->setGeometry(rect);
            break;
        }
        case ControlClass::DropDownList: {
            auto* combo = new QComboBox(this);
            combo->setEditable(false);
            // A drop-down list's template height is that of the open list;
            // the closed box is as tall as its font needs.
            const int closedHeight = combo->sizeHint().height();
            widget = combo;
            widget->setGeometry(rect.x(), rect.y(), rect.width(), closedHeight);
            const int itemHeight =
                std::max(1, combo->view()->sizeHintForRow(0) > 0 ? combo->view()->sizeHintForRow(0)
                                                                 : fontMetrics().height());
            combo->setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / itemHeight));
            if (has(control, control_style::kVerticalScroll)) {
                combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            } else {
                combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            }
            break;
        }
    }
    // Windows reaches the tab-stop controls with Tab; a click still focuses
    // a button that is not one.
    if (has(control, control_style::kTabStop)) {
        widget->setFocusPolicy(Qt::StrongFocus);
    } else if (qobject_cast<QAbstractButton*>(widget) != nullptr) {
        widget->setFocusPolicy(Qt::ClickFocus);
    } else {
        widget->setFocusPolicy(Qt::NoFocus);
    }
    return widget;
}

void QtDialogWindow::setTabOrder(const DialogTemplate& dialogTemplate) {
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = item(control.id);
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

}  // namespace qor
