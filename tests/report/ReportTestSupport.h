// Helpers shared by the report tests: a progress sink that records and can cancel, and
// look-ups into laid-out pages.
#pragma once

#include <QString>
#include <algorithm>
#include <optional>
#include <ostream>
#include <string_view>
#include <string>
#include <vector>

#include "output/ReportEngine.h"

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
