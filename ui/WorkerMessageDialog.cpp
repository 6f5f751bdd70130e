#include "ui/WorkerMessageDialog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QShowEvent>

#include <algorithm>
#include <atomic>

namespace WorkerMessageDialog {
namespace {
std::atomic<int> Shown{0};
std::function<void(QMessageBox&)> ShownObserver;
} // namespace

int ShownCount() {
    return Shown.load();
}
void SetShownObserver(std::function<void(QMessageBox&)> observer) {
    ShownObserver = std::move(observer);
}

} // namespace WorkerMessageDialog

namespace {

constexpr int ButtonGap = 10;
constexpr int CaptionPadding = 20;
constexpr int ButtonHeightPadding = 15;
constexpr int CommonMinimumWidth = 100;
constexpr int BottomMargin = 10;

// The message box lays itself out when it is shown; the restyling has to come
// after that, so it runs from showEvent with the box's own layouts switched off.
class TWorkerMessageBox : public QMessageBox {
public:
    TWorkerMessageBox(QWidget* form, const WorkerMessageRequest& request, ButtonLayout layout)
        : QMessageBox(request.DialogType, request.Caption, request.Text, request.Buttons, form), Form(form),
          Request(request), Layout(layout) {
        setTextFormat(Qt::PlainText);
        QFont f = font();
        f.setPointSize(WorkerMessageDialog::FontPointSize);
        setFont(f);
        if (request.DialogType == QMessageBox::Critical) {
            QPalette p = palette();
            p.setColor(QPalette::Window, QColor(255, 128, 32));
            p.setColor(QPalette::WindowText, Qt::white);
            setPalette(p);
            setAutoFillBackground(true);
        }
    }

protected:
    // The message box sizes itself anew on every layout request; once
    // restyled, the geometry set here must stay.
    bool event(QEvent* event) override {
        // Past the box's own handler on purpose: it would lay the box out anew.
        if (Restyled && event->type() == QEvent::LayoutRequest)
            return QDialog::event(event); // NOLINT(bugprone-parent-virtual-call)
        return QMessageBox::event(event);
    }

    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (event->spontaneous() || Restyled)
            return;
        Restyled = true;
        Restyle();
        ++WorkerMessageDialog::Shown;
        if (WorkerMessageDialog::ShownObserver)
            WorkerMessageDialog::ShownObserver(*this);
    }

private:
    QLabel* MessageLabel() const {
        for (QLabel* label : findChildren<QLabel*>())
            if (label->text() == Request.Text)
                return label;
        return nullptr;
    }

    void Restyle() {
        const int w0 = width();
        if (layout())
            layout()->setEnabled(false);
        // The fixed width is the outer one, border included.
        const int width = WorkerMessageDialog::Width - (frameGeometry().width() - this->width());

        int buttonTop = BottomMargin;
        if (QLabel* label = MessageLabel()) {
            label->setWordWrap(true);
            const int labelWidth = label->width() + width - w0;
            int labelHeight = label->heightForWidth(labelWidth);
            // A text shorter than the icon beside it reaches down to the
            // icon's foot, so the buttons below clear the icon as well.
            if (const QLabel* icon = findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
                if (!icon->isHidden())
                    labelHeight = std::max(labelHeight, icon->y() + icon->height() - label->y());
            label->setGeometry(label->x(), label->y(), labelWidth, labelHeight);
            buttonTop = label->y() + label->height() + ButtonGap;
        }

        const QFontMetrics fm(font());
        const int buttonHeight = fm.height() + ButtonHeightPadding;
        int bottom = buttonTop;
        if (auto* box = findChild<QDialogButtonBox*>()) {
            if (box->layout())
                box->layout()->setEnabled(false);
            box->setGeometry(0, buttonTop, width, buttonHeight);
            const QList<QAbstractButton*> buttons = box->buttons();
            const QStringList& captions = Request.ButtonCaptions;
            const int n = int(std::min<qsizetype>(buttons.size(), captions.size()));
            // A button is as wide as its caption; the style's button icon
            // would crowd the caption to its edge.
            for (QAbstractButton* button : buttons)
                button->setIcon(QIcon());
            if (Layout == ButtonLayout::OwnWidth) {
                for (int i = 0; i < n; ++i) {
                    const int w = fm.horizontalAdvance(captions[i]) + CaptionPadding;
                    buttons[i]->setText(captions[i]);
                    buttons[i]->setGeometry((width - w) / 2, 0, w, buttonHeight);
                }
            } else if (n > 0) {
                int w = CommonMinimumWidth;
                for (int i = 0; i < n; ++i)
                    w = std::max(w, fm.horizontalAdvance(captions[i]) + CaptionPadding);
                for (int l = 0; l < n; ++l) {
                    buttons[l]->setText(captions[l]);
                    buttons[l]->setGeometry((width - n * w) * (l + 1) / (n + 1) + l * w, 0, w, buttonHeight);
                }
            }
            if (n > 0)
                bottom = buttonTop + buttonHeight;
        }
        setFixedSize(width, bottom + BottomMargin);

        if (Form) {
            const QRect main = Form->frameGeometry();
            const QSize frame = frameGeometry().size();
            move(main.left() + (main.width() - frame.width()) / 2,
                 main.top() + (main.height() - frame.height()) / 2);
        }
    }

    QWidget* Form;
    WorkerMessageRequest Request;
    ButtonLayout Layout;
    bool Restyled = false;
};

} // namespace

int ShowWorkerMessageDialog(QWidget* form, bool* shortcutsEnabled, const WorkerMessageRequest& request,
                            ButtonLayout layout) {
    // Keys pressed while the dialog is open must not reach the window's
    // Escape handling (it would stop a running measurement).
    bool savedShortCut = true;
    if (shortcutsEnabled) {
        savedShortCut = *shortcutsEnabled;
        *shortcutsEnabled = false;
    }
    int result = 0;
    {
        TWorkerMessageBox box(form, request, layout);
        result = box.exec();
    }
    if (shortcutsEnabled)
        *shortcutsEnabled = savedShortCut;
    // Without a window manager nobody hands the keyboard back to the window
    // when the dialog goes, and the shortcuts would reach nothing.
    if (form && form->isVisible())
        form->activateWindow();
    return result;
}
