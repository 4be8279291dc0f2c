// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/file_dialog.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace tovrel::platform {

QtFileDialog::QtFileDialog(QWidget* parent) : parent_(parent) {}

void QtFileDialog::setFlags(std::int32_t flags) { flags_ = flags; }

void QtFileDialog::configure(QFileDialog& dialog) const {
    dialog.setWindowTitle(QString::fromLatin1(kTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((flags_ & FileMustExist) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromLatin1(kNameFilter));
    dialog.selectFile(chosen() ? QFileInfo(fileName_).fileName() : fileName_);
}

void QtFileDialog::showOpen() {
    // Every run starts in the user's home folder; once a file is chosen, the
    // dialog opens where it came from. It is created right there, so that
    // its Back button does not lead to the program's working folder.
    QFileDialog dialog(parent_.data(), QString(), chosen() ? QFileInfo(fileName_).absolutePath() : QDir::homePath());
    configure(dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty()) {
        fileName_ = chosen.first();
    }
}

std::string QtFileDialog::fileName() const { return fileName_.toStdString(); }

}  // namespace tovrel::platform
