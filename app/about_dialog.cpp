#include "app/about_dialog.h"

#include <algorithm>

#include "app/label_fit.h"
#include "quillon/version.h"
#include "ui_about_dialog.h"

namespace quillon {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_ui->buildLabel->setText(
        QStringLiteral("Build %1  (C) 2024 Quillon").arg(QString::fromLatin1(kVersion)));
    // Both lines take the width their text needs; OK stays right of the
    // second, and the box grows by as much.
    const int dx = std::max(ExtraWidthFor(*m_ui->nameLabel, {m_ui->nameLabel->text()}),
                            ExtraWidthFor(*m_ui->buildLabel, {m_ui->buildLabel->text()}));
    Widen(*m_ui->nameLabel, dx);
    Widen(*m_ui->buildLabel, dx);
    Shift(*m_ui->okButton, dx);
    Widen(*this, dx);
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace quillon
