#include "app/dialogs.h"

#include <vector>

#include "net/agc.h"
#include "net/replies.h"
#include "platform/fields.h"
#include "platform/ui.h"

namespace {

std::string field(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? std::string(f[i]) : std::string();
}

}  // namespace

std::optional<std::string> InputBox(const std::string& title, const std::string& prompt,
                                    const std::string& defaultText) {
    std::optional<std::string> result;
    uiCall([&] {
        uiDialogs().setInDialog(true);
        std::string answer;
        if (uiDialogs().inputBox(title, prompt, defaultText, &answer)) result = std::move(answer);
        uiDialogs().setInDialog(false);
    });
    return result;
}

void prepareInputBox(std::string_view s) {
    std::vector<std::string_view> f = splitFields(s);
    uint32_t id = f.empty() ? 0 : readUint32(f[0]);
    std::optional<std::string> answer = InputBox(field(f, 1), field(f, 2), field(f, 3));
    if (answer) agc_sendCurrent(inputReply(id, *answer));
}

void prepareMessageBox(std::string_view s) {
    std::vector<std::string_view> f = splitFields(s);
    uint32_t id = f.empty() ? 0 : readUint32(f[0]);
    unsigned flags = f.size() > 3 ? readUint32(f[3]) : 0;
    std::string title = field(f, 1), text = field(f, 2);
    // Preset for a UI that cannot show the box (no main window): the server
    // still gets its answer.
    int result = 0;
    uiCall([&] {
        uiDialogs().setInDialog(true);
        result = uiDialogs().messageBox(text, title, flags);
        uiDialogs().setInDialog(false);
    });
    agc_sendCurrent(msgboxReply(id, result));
}
