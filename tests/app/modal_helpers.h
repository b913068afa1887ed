#pragma once

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace quillon::testing {

// Runs act on the first modal widget of type T that shows up, from inside
// whatever event loop is running then (a dialog's exec, a QTRY wait).
template <class T>
void WhenModal(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(widget);
        }
    });
    timer->start();
}

// Answers every message box that appears while it lives, so no test can hang
// on one, and keeps what each one showed.
class MessageBoxAnswerer {
public:
    struct Box {
        QString text;
        QString caption;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QString details;
    };
    using Policy = std::function<QMessageBox::StandardButton(const Box&)>;

    // Without a policy: OK where there is one, else No.
    explicit MessageBoxAnswerer(Policy policy = {}) : m_policy(std::move(policy)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
        m_timer.start();
    }

    const std::vector<Box>& Seen() const { return m_seen; }
    void SetPolicy(Policy policy) { m_policy = std::move(policy); }

private:
    void Answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) {
            return;
        }
        box->setProperty("answered", true);
        Box seen{box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                 box->detailedText()};
        m_seen.push_back(seen);
        QMessageBox::StandardButton choice = m_policy ? m_policy(seen) : Default(seen);
        if (QAbstractButton* button = box->button(choice)) {
            button->click();
        } else {
            box->reject();
        }
    }

    static QMessageBox::StandardButton Default(const Box& box) {
        return box.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }

    Policy m_policy;
    QTimer m_timer;
    std::vector<Box> m_seen;
};

// The application's font at another point size for as long as it lives
// (0: left as it is), so that a test sees the widgets in a larger font.
class ApplicationFont {
public:
    explicit ApplicationFont(int pointSize) : m_kept(QApplication::font()) {
        if (pointSize > 0) {
            QFont larger = m_kept;
            larger.setPointSize(pointSize);
            QApplication::setFont(larger);
        }
    }
    ~ApplicationFont() { QApplication::setFont(m_kept); }
    ApplicationFont(const ApplicationFont&) = delete;
    ApplicationFont& operator=(const ApplicationFont&) = delete;

private:
    QFont m_kept;
};

// A window whose exits go to onExit instead of ending the test program.
template <typename Dialog>
class ExitRecording : public Dialog {
public:
    using Dialog::Dialog;
    std::function<void(int)> onExit;

protected:
    void ExitProgram(int code) override { onExit(code); }
};

}  // namespace quillon::testing
