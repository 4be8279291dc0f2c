// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The Open dialog for the alarm's MP3 file: Qt's own dialog rather than the
// desktop's, so that it looks and behaves the same everywhere and can be
// driven by keyboard scripts.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <string>

#include "components/components.h"

class QFileDialog;

namespace tovrel::platform {

class QtFileDialog : public components::FileDialog {
public:
    static constexpr const char* kTitle = "Open MP3 File";
    static constexpr const char* kNameFilter = "Mpeg Layer 3 (*.mp3)";
    static constexpr const char* kInitialFileName = "*.mp3";

    // The dialog is modal to the parent window; null makes it application
    // modal.
    explicit QtFileDialog(QWidget* parent = nullptr);

    // Stored as given; the dialog honours what a Qt dialog can. With
    // FileMustExist only existing files are accepted, without it any name.
    // A Qt dialog has no read-only check box and is never read-only, so
    // HideReadOnly and ReadOnly change nothing; PathMustExist is covered
    // by FileMustExist, and ExtensionDifferent is a result bit.
    void setFlags(std::int32_t flags) override;
    [[nodiscard]] std::int32_t flags() const { return flags_; }

    void showOpen() override;
    [[nodiscard]] std::string fileName() const override;

private:
    void configure(QFileDialog& dialog) const;
    [[nodiscard]] bool chosen() const { return fileName_ != QLatin1String(kInitialFileName); }

    QPointer<QWidget> parent_;
    std::int32_t flags_ = HideReadOnly | PathMustExist | FileMustExist;
    QString fileName_ = QString::fromLatin1(kInitialFileName);
};

}  // namespace tovrel::platform
