#pragma once
// A host for tests: records every row, message and progress call; answers questions from a
// queue; lets a test hook into doEvents (to request a stop at a given moment).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/host.h"

namespace ferretta::test {

class RecordingHost : public app::Host {
  public:
    struct Message {
        std::string text;
        app::MessageStyle style;
    };

    RowHandle addResult(const app::Hit& hit) override {
        rows.push_back(hit);
        colors.push_back(0);
        return rows.size() - 1;
    }
    void setContentColor(RowHandle row, std::uint32_t color) override { colors.at(row) = color; }
    void setCaptionOnSearching(std::string_view path) override { captions.emplace_back(path); }
    void showProgress(std::string_view text) override { progressTexts.emplace_back(text); }
    void setStatusText(std::string_view text) override { statusTexts.emplace_back(text); }
    void noteFromCache() override { ++fromCacheNotes; }
    void showFromCache(std::int64_t documents) override { fromCacheShown.push_back(documents); }
    void doEvents() override {
        ++doEventsCalls;
        if (onDoEvents)
            onDoEvents();
    }
    void showMessage(std::string_view text, app::MessageStyle style) override {
        messages.push_back({std::string(text), style});
    }
    bool askYesNo(std::string_view text, app::MessageStyle style) override {
        questions.push_back({std::string(text), style});
        bool answer = answers.empty() ? false : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    }

    std::vector<app::Hit> rows;
    std::vector<std::uint32_t> colors;
    std::vector<std::string> captions;
    std::vector<std::string> progressTexts;
    std::vector<std::string> statusTexts;
    std::vector<std::int64_t> fromCacheShown;
    int fromCacheNotes = 0;
    std::vector<Message> messages;
    std::vector<Message> questions;
    std::vector<bool> answers;  // answers to askYesNo, in order; No when empty
    int doEventsCalls = 0;
    std::function<void()> onDoEvents;
};

// Expects exactly one message, with this text and style.
inline void expectOneMessage(const RecordingHost& host, std::string_view text,
                             app::MessageStyle style) {
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, text);
    EXPECT_EQ(host.messages[0].style, style);
}

// The host's rows as "type|name|content|location|position".
inline std::vector<std::string> hitRows(const RecordingHost& host) {
    std::vector<std::string> out;
    for (const auto& r : host.rows) {
        out.push_back(std::to_string(static_cast<int>(r.fileType)) + "|" + r.name + "|" +
                      r.content + "|" + r.location + "|" + r.position);
    }
    return out;
}

}  // namespace ferretta::test
