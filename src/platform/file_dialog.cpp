// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/file_dialog.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace tovrel::platform {

QtFileDialog::QtFileDialog(QWidget* parent) : parent_(parent) {}

void QtFileDialog::setFlags(std::int32_t flags)
{
    flags_ = flags;
}

void QtFileDialog::configure(QFileDialog& dialog) const
{
    dialog.setWindowTitle(QString::fromLatin1(kTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((flags_ & kFileMustExist) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromLatin1(kNameFilter));
    if (fileName_ == QLatin1String(kInitialFileName)) {
        dialog.selectFile(fileName_);
    } else {
        // Open where the last file came from, with it selected.
        const QFileInfo last(fileName_);
        dialog.setDirectory(last.absolutePath());
        dialog.selectFile(last.fileName());
    }
}

void QtFileDialog::showOpen()
{
    QFileDialog dialog(parent_.data());
    configure(dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty()) {
        fileName_ = chosen.first();
    }
}

std::string QtFileDialog::fileName() const
{
    return fileName_.toStdString();
}

}  // namespace tovrel::platform
