#include "app/about_dialog.h"

#include "ui_about_dialog.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "unknown"
#endif

namespace quillon {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_ui->buildLabel->setText(
        QStringLiteral("Build %1  (C) 2024 Quillon").arg(QStringLiteral(QUILLON_VERSION)));
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace quillon
