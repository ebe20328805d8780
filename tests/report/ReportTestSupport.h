// Helpers shared by the report tests: a progress sink that records and can cancel, scripted
// dialogs, and look-ups into laid-out pages.
#pragma once

#include <QString>
#include <algorithm>
#include <optional>
#include <ostream>
#include <string_view>
#include <string>
#include <vector>

#include "output/ReportEngine.h"
#include "platform/gui/dialogs.h"

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace pelmora::test {

class RecordingProgress : public output::ProgressSink {
  public:
    void open(const QString& caption, const QString& text) override {
        captions.push_back(caption);
        texts.push_back(text);
        ++opened;
    }
    bool step() override {
        ++steps;
        return cancelAtStep == 0 || steps < cancelAtStep;
    }
    void close() override { ++closed; }

    std::vector<QString> captions;
    std::vector<QString> texts;
    int opened = 0;
    int closed = 0;
    int steps = 0;
    int cancelAtStep = 0;  // 0: never; else step number `cancelAtStep` answers "cancelled"
};

class ScriptedDialogs : public platform::Dialogs {
  public:
    int messageDlg(std::string_view text, platform::MsgDlgType, unsigned, int) override {
        asked.emplace_back(text);
        return platform::mrCancel;
    }
    int messageDlgEx(std::string_view text, platform::MsgDlgType, unsigned, unsigned,
                     unsigned) override {
        asked.emplace_back(text);
        return platform::mrCancel;
    }
    void notice(std::string_view text) override { notices.emplace_back(text); }
    void errorBox(std::string_view message) override { errors.emplace_back(message); }
    std::optional<std::string> openFileName(const platform::FileDialogOptions&) override {
        return openAnswer;
    }
    std::optional<std::string> saveFileName(const platform::FileDialogOptions&) override {
        return saveAnswer;
    }

    std::vector<std::string> asked;
    std::vector<std::string> notices;
    std::vector<std::string> errors;
    std::optional<std::string> openAnswer;
    std::optional<std::string> saveAnswer;
};

// Installs `d` as the dialogs in force for the lifetime of the guard.
class DialogsGuard {
  public:
    explicit DialogsGuard(platform::Dialogs& d) { platform::setDialogs(&d); }
    ~DialogsGuard() { platform::setDialogs(nullptr); }
    DialogsGuard(const DialogsGuard&) = delete;
    DialogsGuard& operator=(const DialogsGuard&) = delete;
};

// The bands of `page` of the given type, in page order.
inline std::vector<const output::PlacedBand*> bandsOf(const output::LaidOutPage& page,
                                                      output::TQRBandType type) {
    std::vector<const output::PlacedBand*> found;
    for (const output::PlacedBand& b : page.bands)
        if (b.band->type == type) found.push_back(&b);
    return found;
}

// The band types of `page` in the order they stand on it, top to bottom.
inline std::vector<output::TQRBandType> bandOrder(const output::LaidOutPage& page) {
    std::vector<const output::PlacedBand*> sorted;
    for (const output::PlacedBand& b : page.bands) sorted.push_back(&b);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto* a, const auto* b) { return a->top < b->top; });
    std::vector<output::TQRBandType> types;
    for (const auto* b : sorted) types.push_back(b->band->type);
    return types;
}

}  // namespace pelmora::test
