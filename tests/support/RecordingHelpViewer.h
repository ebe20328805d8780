// A help viewer for tests: records every command instead of opening a window. A test hands it
// to the windows through their Services.
#pragma once

#include <string>
#include <vector>

#include "platform/gui/helpviewer.h"

namespace pelmora::test {

struct HelpCall {
    std::string file;
    unsigned command = 0;
    unsigned long data = 0;
    bool operator==(const HelpCall&) const = default;
};

class RecordingHelpViewer final : public platform::HelpViewer {
  public:
    RecordingHelpViewer() = default;
    RecordingHelpViewer(const RecordingHelpViewer&) = delete;
    RecordingHelpViewer& operator=(const RecordingHelpViewer&) = delete;

    bool winHelp(QWidget*, const std::string& file, unsigned command, unsigned long data) override {
        calls.push_back({file, command, data});
        return true;
    }

    std::vector<HelpCall> calls;
};

}  // namespace pelmora::test
