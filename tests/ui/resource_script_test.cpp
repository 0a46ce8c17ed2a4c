// The Windows program's dialog comes from res/qor.rc, every other host's
// from ui/dialog_template.cpp. This reads the resource script as the
// resource compiler does (a CONTROL starts as a visible child; "NOT" takes a
// style away) and holds it against the template, so the two cannot drift
// apart unnoticed.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/resource_ids.h"

namespace qor {
namespace {

const std::string kResDir = QOR_RES_DIR;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Splits at commas outside quotes.
std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    for (std::string& field : out) {
        field = trim(field);
    }
    return out;
}

std::optional<std::string> unquoted(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return std::nullopt;
}

// The style names of an expression, as set after "A | B | NOT C" on top of
// `initial`.
std::set<std::string> styleNames(const std::string& expression, std::set<std::string> initial) {
    std::stringstream parts(expression);
    std::string part;
    while (std::getline(parts, part, '|')) {
        part = trim(part);
        if (part.rfind("NOT ", 0) == 0) {
            initial.erase(trim(part.substr(4)));
        } else {
            initial.insert(part);
        }
    }
    return initial;
}

std::map<std::string, int> defines() {
    std::map<std::string, int> ids;
    const std::string header = readText(kResDir + "/resource.h");
    const std::regex define(R"(#define\s+(\w+)\s+(\d+))");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), define);
         it != std::sregex_iterator(); ++it) {
        ids[(*it)[1]] = std::stoi((*it)[2]);
    }
    return ids;
}

struct ScriptControl {
    std::string text;  // quoted text, or the symbol of a picture
    bool textQuoted = false;
    std::string idName;
    std::string className;
    std::set<std::string> styles;
    DluRect rect;
};

struct ScriptDialog {
    std::string name;
    DluRect rect;
    std::set<std::string> styles;
    std::set<std::string> exStyles;
    std::string caption;
    std::string font;
    int fontPoints = 0;
    std::vector<ScriptControl> controls;
};

// The first DIALOGEX of the script.
ScriptDialog readDialog(const std::string& script) {
    ScriptDialog dialog;
    std::stringstream lines(script);
    std::string line;
    bool inDialog = false;
    bool inControls = false;
    while (std::getline(lines, line)) {
        line = trim(line);
        std::smatch match;
        if (!inDialog) {
            if (std::regex_match(
                    line, match,
                    std::regex(R"((\w+)\s+DIALOGEX\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+))"))) {
                inDialog = true;
                dialog.name = match[1];
                dialog.rect = {std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4]),
                               std::stoi(match[5])};
            }
            continue;
        }
        if (line == "BEGIN") {
            inControls = true;
        } else if (line == "END") {
            break;
        } else if (!inControls) {
            const std::string keyword = line.substr(0, line.find(' '));
            const std::string rest = trim(line.substr(keyword.size()));
            if (keyword == "STYLE") {
                dialog.styles = styleNames(rest, {});
            } else if (keyword == "EXSTYLE") {
                dialog.exStyles = styleNames(rest, {});
            } else if (keyword == "CAPTION") {
                dialog.caption = unquoted(rest).value_or("");
            } else if (keyword == "FONT") {
                const std::vector<std::string> font = fields(rest);
                dialog.fontPoints = std::stoi(font.at(0));
                dialog.font = unquoted(font.at(1)).value_or("");
            }
        } else if (line.rfind("CONTROL ", 0) == 0) {
            const std::vector<std::string> f = fields(line.substr(8));
            EXPECT_EQ(f.size(), 8u) << line;
            if (f.size() < 8) {
                continue;
            }
            ScriptControl control;
            control.textQuoted = unquoted(f[0]).has_value();
            control.text = unquoted(f[0]).value_or(f[0]);
            control.idName = f[1];
            control.className = unquoted(f[2]).value_or(f[2]);
            // The resource compiler starts every CONTROL as a visible child.
            control.styles = styleNames(f[3], {"WS_CHILD", "WS_VISIBLE"});
            control.rect = {std::stoi(f[4]), std::stoi(f[5]), std::stoi(f[6]), std::stoi(f[7])};
            dialog.controls.push_back(control);
        } else if (!line.empty() && line.rfind("//", 0) != 0) {
            ADD_FAILURE() << "not a CONTROL statement: " << line;
        }
    }
    return dialog;
}

// The template's class and style bits for a script control; a style the
// template has no word for fails the test.
struct Meaning {
    std::optional<ControlClass> controlClass;
    uint32_t style = 0;
};

Meaning meaningOf(const ScriptControl& control) {
    using namespace control_style;
    const std::map<std::string, uint32_t> flags = {
        {"WS_VISIBLE", kVisible}, {"WS_DISABLED", kDisabled},      {"WS_TABSTOP", kTabStop},
        {"WS_GROUP", kGroup},     {"WS_VSCROLL", kVerticalScroll}, {"SS_CENTER", kCentred},
    };
    const std::map<std::pair<std::string, std::string>, ControlClass> classes = {
        {{"Button", "BS_PUSHBUTTON"}, ControlClass::PushButton},
        {{"Button", "BS_AUTORADIOBUTTON"}, ControlClass::AutoRadioButton},
        {{"Static", "SS_LEFT"}, ControlClass::Static},
        {{"Static", "SS_CENTER"}, ControlClass::Static},
        {{"Static", "SS_BITMAP"}, ControlClass::BitmapStatic},
        {{"ComboBox", "CBS_DROPDOWNLIST"}, ControlClass::DropDownList},
    };
    Meaning meaning;
    for (const std::string& name : control.styles) {
        const auto flag = flags.find(name);
        const auto kind = classes.find({control.className, name});
        if (flag != flags.end()) {
            meaning.style |= flag->second;
        }
        if (kind != classes.end()) {
            EXPECT_FALSE(meaning.controlClass) << control.idName << ": two kinds of control";
            meaning.controlClass = kind->second;
        }
        if (flag == flags.end() && kind == classes.end() && name != "WS_CHILD") {
            ADD_FAILURE() << control.idName << ": style " << name << " is not in the template";
        }
    }
    return meaning;
}

TEST(ResourceScript, IdsAreTheProgramsIds) {
    const std::map<std::string, int> ids = defines();
    const std::map<std::string, int> expected = {
        {"IDD_MAIN_DIALOG", IDD_MAIN_DIALOG},
        {"IDR_MAINFRAME", IDR_MAINFRAME},
        {"IDB_BARCODE", IDB_BARCODE},
        {"IDB_LOGO", IDB_LOGO},
        {"IDC_UPDATE", IDC_UPDATE},
        {"IDC_INFO", IDC_INFO},
        {"IDC_PICTURE", IDC_PICTURE},
        {"IDC_RADIO_USB", IDC_RADIO_USB},
        {"IDC_RADIO_RS232", IDC_RADIO_RS232},
        {"IDC_COMBO_PORT", IDC_COMBO_PORT},
        {"IDC_STEP1", IDC_STEP1},
        {"IDC_STEP2", IDC_STEP2},
    };
    EXPECT_EQ(ids, expected);
}

TEST(ResourceScript, DialogIsTheTemplate) {
    const DialogTemplate& expected = mainDialogTemplate();
    const std::map<std::string, int> ids = defines();
    const ScriptDialog dialog = readDialog(readText(kResDir + "/qor.rc"));

    EXPECT_EQ(ids.at(dialog.name), expected.id);
    EXPECT_EQ(dialog.rect.x, expected.rect.x);
    EXPECT_EQ(dialog.rect.y, expected.rect.y);
    EXPECT_EQ(dialog.rect.width, expected.rect.width);
    EXPECT_EQ(dialog.rect.height, expected.rect.height);
    EXPECT_EQ(dialog.caption, expected.caption);
    EXPECT_EQ(dialog.font, expected.fontName);
    EXPECT_EQ(dialog.fontPoints, expected.fontPoints);
    // A modal frame of its own, with a taskbar button; no centring style,
    // since the dialog is centred after it has initialised.
    EXPECT_EQ(dialog.styles, (std::set<std::string>{"DS_SETFONT", "DS_MODALFRAME", "WS_POPUP",
                                                    "WS_CAPTION", "WS_SYSMENU"}));
    EXPECT_EQ(dialog.exStyles, std::set<std::string>{"WS_EX_APPWINDOW"});

    // In tab order, control for control.
    ASSERT_EQ(dialog.controls.size(), expected.controls.size());
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ScriptControl& control = dialog.controls[i];
        const ControlTemplate& want = expected.controls[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(control.idName, want.name);
        ASSERT_TRUE(ids.count(control.idName));
        EXPECT_EQ(ids.at(control.idName), want.id);
        const Meaning meaning = meaningOf(control);
        EXPECT_EQ(meaning.controlClass, want.controlClass);
        EXPECT_EQ(meaning.style, want.style);
        if (want.controlClass == ControlClass::BitmapStatic) {
            ASSERT_FALSE(control.textQuoted);
            ASSERT_TRUE(ids.count(control.text));
            EXPECT_EQ(ids.at(control.text), want.bitmapId);
        } else {
            EXPECT_TRUE(control.textQuoted);
            EXPECT_EQ(control.text, want.text != nullptr ? want.text : "");
        }
        EXPECT_EQ(control.rect.x, want.rect.x);
        EXPECT_EQ(control.rect.y, want.rect.y);
        EXPECT_EQ(control.rect.width, want.rect.width);
        EXPECT_EQ(control.rect.height, want.rect.height);
    }
}

}  // namespace
}  // namespace qor
