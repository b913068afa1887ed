#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace quillon {

// The tool's name and version, and the build's version with our copyright.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> m_ui;
};

}  // namespace quillon
