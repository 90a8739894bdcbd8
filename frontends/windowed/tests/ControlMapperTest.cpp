// Bindings between dialog items and variables: transfers both ways,
// validation with its red marking, walk order and focus.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "ControlMapper.h"
#include "Controls.h"
#include "Platform.h"
#include "WDialog.h"
#include "WException.h"
#include "WSystem.h"

namespace {

constexpr int TEMPLATE_ID = 9301;
constexpr DWORD EDIT = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const wplat::DialogItemTemplate g_items[] = {
    {"EDIT", "", 10, 5, 5, 80, 14, EDIT, 0},
    {"EDIT", "", 11, 5, 25, 80, 14, EDIT, 0},
    {"EDIT", "", 12, 5, 45, 80, 14, EDIT, 0},
    {"EDIT", "", 13, 5, 65, 80, 14, EDIT, 0},
    {"BUTTON", "check", 20, 5, 85, 80, 10, WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x3u, 0},
    {"LISTBOX", "", 30, 100, 5, 80, 40, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0},
    {"COMBOBOX", "", 31, 100, 50, 80, 60, WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x3u, 0},
};
const wplat::DialogTemplate g_template = {WS_CAPTION, 0, 0, 0, 200, 120, "mapper", "MS Shell Dlg", 8, g_items, 7};

class TestDialog : public WDialog {
public:
    TestDialog() : WDialog(nullptr, TEMPLATE_ID) { }
    void onDialogCreate() override { created++; }
    void onDialogClose() override { closed++; }
    int created = 0;
    int closed = 0;
};

class ControlMapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wplat::registerControlClasses();
        wplat::registerDialogTemplate(TEMPLATE_ID, &g_template);
        dialog.show(false);
        mapper.setWindowContext(&dialog);
    }
    void TearDown() override { mapper.removeAll(); }

    void type(int id, const char* text) { wplat::setWindowText(wplat::getDlgItem(dialog.getWindowHandle(), id), text); }
    std::string shown(int id) { return wplat::getWindowText(wplat::getDlgItem(dialog.getWindowHandle(), id)); }

    struct Typed {
        const char* text;
        bool valid;
        unsigned int value;
    };
    // Types each text into the field: validation gives `valid`, the transfer
    // stores `value` in the field's variable.
    void expectTyped(int id, const unsigned int& stored, std::initializer_list<Typed> cases)
    {
        for (const Typed& c : cases) {
            type(id, c.text);
            EXPECT_EQ(mapper.validate(), c.valid) << c.text;
            mapper.controlsToData();
            EXPECT_EQ(stored, c.value) << c.text;
        }
    }

    TestDialog dialog;
    ControlMapper mapper;
};

} // namespace

TEST_F(ControlMapperTest, UnsignedFieldsAreValidOnlyWithANumberOtherThanZero)
{
    unsigned int port = 80;
    mapper.mapUnsigned(10, &port);
    mapper.setMandatory(10, true);
    mapper.dataToControls();
    EXPECT_EQ(shown(10), "80");
    expectTyped(10, port, {{"0", false, 0}, {"abc", false, 0}, {"8080", true, 8080}, {"", false, 0}});
}

// Validation reads the text as the transfer does, so what passes is stored.
TEST_F(ControlMapperTest, UnsignedFieldsReadDecimalOneWayWithinTheirRange)
{
    unsigned int port = 80;
    mapper.mapUnsigned(10, &port);
    mapper.setMandatory(10, true);
    mapper.setRange(10, 1, 65535);
    expectTyped(10, port,
        {
            {"0x1F90", false, 0},
            {"08080", true, 8080},
            {"0", false, 0},
            {"65536", false, 65536},
            {"65535", true, 65535},
            {"1", true, 1},
            {"abc", false, 0},
            {"80a", false, 0},
            {" 81 ", true, 81},
            {"-1", false, 0},
            {"99999999999", false, 0},
            {"4294967295", false, 4294967295u},
        });
}

TEST(ParseUnsigned, DigitsOnly)
{
    unsigned int value = 7;
    EXPECT_FALSE(parseUnsigned(nullptr, value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(parseUnsigned("", value));
    EXPECT_FALSE(parseUnsigned("+5", value));
    EXPECT_FALSE(parseUnsigned("5 5", value));
    EXPECT_FALSE(parseUnsigned("4294967296", value));
    EXPECT_TRUE(parseUnsigned("4294967295", value));
    EXPECT_EQ(value, 4294967295u);
    EXPECT_TRUE(parseUnsigned("\t007", value));
    EXPECT_EQ(value, 7u);
}

TEST_F(ControlMapperTest, IntegerFieldsReadHexadecimalAndOctal)
{
    int value = 0;
    mapper.mapInt(10, &value);
    struct Case {
        const char* text;
        int value;
    } cases[] = {{"010", 8}, {"0x1F", 31}, {"-12", -12}, {"x", 0}};
    for (const Case& c : cases) {
        type(10, c.text);
        mapper.controlToData(10);
        EXPECT_EQ(value, c.value) << c.text;
    }
    value = -7;
    mapper.dataToControl(10);
    EXPECT_EQ(shown(10), "-7");
}

TEST_F(ControlMapperTest, DecimalCommaAndTrailingMinus)
{
    double value = 3.5;
    mapper.mapDouble(10, &value);
    EXPECT_EQ(mapper.setDecimalFormat(10, true, 2), 2u);
    mapper.dataToControl(10);
    EXPECT_EQ(shown(10), "3,50");
    type(10, "2,5-");
    mapper.controlToData(10);
    EXPECT_DOUBLE_EQ(value, -2.5);
    // Large values keep their digits.
    mapper.setDecimalFormat(10, false, 2);
    type(10, "1234567.89");
    mapper.controlToData(10);
    EXPECT_DOUBLE_EQ(value, 1234567.89);
}

TEST_F(ControlMapperTest, DatesValidateFourDigitYearsButTransferTwo)
{
    WDate date;
    date.parse(2000, 1, 1, 0, 0, 0);
    mapper.mapDate(10, &date);
    type(10, "7.3.2011");
    EXPECT_TRUE(mapper.validate());
    type(10, "7.3.11");
    EXPECT_FALSE(mapper.validate());
    mapper.controlToData(10);
    EXPECT_EQ(std::string(date.format("%d.%m.%Y %H:%M")), "07.03.2011 12:00");
    type(10, "7-3-2011");
    EXPECT_TRUE(mapper.validate()); // the dots of the pattern match any character
    date.parse(2000, 1, 1, 0, 0, 0);
    mapper.controlToData(10);
    EXPECT_EQ(std::string(date.format("%d.%m.%Y")), "01.01.2000");
}

TEST_F(ControlMapperTest, InvalidFieldsTurnRedAndWhiteAgain)
{
    WString host("x");
    WString other("y");
    mapper.mapString(10, &host);
    mapper.mapString(11, &other);
    mapper.dataToControls();
    type(10, "");
    EXPECT_FALSE(mapper.validate());
    ControlMapper::Mapping* bad = mapper.getMapping(10);
    ControlMapper::Mapping* good = mapper.getMapping(11);
    EXPECT_TRUE(bad->coloured);
    EXPECT_EQ(bad->backColor, 255u);
    EXPECT_FALSE(good->coloured); // never red: keeps its colours
    unsigned long text = 99;
    EXPECT_NE(mapper.getEditBrush(wplat::getDlgItem(dialog.getWindowHandle(), 10), text), nullptr);
    EXPECT_EQ(text, 0u);
    type(10, "back");
    EXPECT_TRUE(mapper.validate());
    EXPECT_EQ(bad->backColor, 0xFFFFFFu);
    EXPECT_FALSE(good->coloured);
}

TEST_F(ControlMapperTest, ReadOnlyAndOptionalFields)
{
    WString status;
    WString note;
    unsigned int count = 0;
    mapper.mapString(10, &status);
    mapper.setReadOnly(10, true);
    mapper.mapString(11, &note);
    mapper.setMandatory(11, false);
    mapper.mapUnsigned(12, &count); // optional by default
    mapper.dataToControls();
    type(10, "");
    type(11, "");
    type(12, "");
    EXPECT_TRUE(mapper.validate());
    mapper.setRegex(11, "^[a-z]+$");
    type(11, "ABC");
    EXPECT_FALSE(mapper.validate());
    type(11, "abc");
    EXPECT_TRUE(mapper.validate());
    mapper.setRegex(11, "(["); // cannot compile: every text invalid
    EXPECT_FALSE(mapper.validate());
}

TEST_F(ControlMapperTest, CheckBoxesAndTableValues)
{
    bool on = true;
    WStringTable table;
    table.put("name", "first");
    mapper.mapCheckBox(20, &on);
    mapper.mapTableValue(11, "name", &table);
    mapper.dataToControls();
    EXPECT_EQ(shown(11), "first");
    on = false;
    mapper.controlsToData();
    EXPECT_TRUE(on);
    type(11, "second");
    mapper.controlToData(11);
    EXPECT_STREQ(table.get("name").getBuf(), "second");
}

TEST_F(ControlMapperTest, RebindingMovesTheIdToTheEndOfTheWalk)
{
    WString a, b, c;
    mapper.mapString(10, &a);
    mapper.mapString(11, &b);
    mapper.mapString(12, &c);
    mapper.mapString(10, &a);
    // The walk now runs 11, 12, 10: the focus after 12 goes to 10.
    EXPECT_TRUE(mapper.focusNext(12));
    EXPECT_EQ(wplat::getFocus(), wplat::getDlgItem(dialog.getWindowHandle(), 10));
    mapper.setReadOnly(12, true);
    EXPECT_TRUE(mapper.focusNext(11));
    EXPECT_EQ(wplat::getFocus(), wplat::getDlgItem(dialog.getWindowHandle(), 10));
    EXPECT_FALSE(mapper.focusNext(99));
    EXPECT_TRUE(mapper.unmap(11));
    EXPECT_FALSE(mapper.unmap(11));
}

TEST_F(ControlMapperTest, BindingAnAbsentItemThrows)
{
    WString s;
    EXPECT_THROW(mapper.mapString(77, &s), WControlException);
    EXPECT_EQ(mapper.getMapping(77), nullptr);
}

TEST(Regex, MatchesLikeThePatternSays)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"^[0-9]+$", "123", true},
        {"^[0-9]+$", "12a", false},
        {"b", "abc", true},
        {"(", "abc", false},
        {"^([0-9]{1,2}).([0-9]{1,2}).([0-9]{4})$", "7.3.2011", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchRegex(c.pattern, WString(c.text)), c.match) << c.pattern << " " << c.text;
}

TEST(DialogLifetime, CloseEndsOnceAndUnregisters)
{
    wplat::registerControlClasses();
    wplat::registerDialogTemplate(TEMPLATE_ID, &g_template);
    TestDialog dialog;
    EXPECT_EQ(dialog.show(false), 1);
    EXPECT_EQ(dialog.created, 1);
    HWND window = dialog.getWindowHandle();
    EXPECT_TRUE(WSystem::isDialogWindow(window));
    wplat::sendMessage(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog.closed, 1);
    EXPECT_TRUE(wplat::isWindow(window)); // closing is the dialog's decision
    dialog.close(0);
    dialog.close(0);
    EXPECT_FALSE(wplat::isWindow(window));
    EXPECT_FALSE(WSystem::isDialogWindow(window));
    EXPECT_EQ(dialog.getWindowHandle(), nullptr);
}

TEST(DialogLifetime, AMissingTemplateThrows)
{
    class Missing : public WDialog {
    public:
        Missing() : WDialog(nullptr, 9399) { }
        void onDialogCreate() override { }
        void onDialogClose() override { }
    } dialog;
    try {
        dialog.show(false);
        FAIL();
    } catch (WDialogException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create non modal dialog.");
        EXPECT_EQ(e.getId(), -1);
    }
    EXPECT_THROW(dialog.show(true), WDialogException);
}

TEST(DialogLifetime, AModalShowReturnsTheCloseCode)
{
    wplat::registerControlClasses();
    wplat::registerDialogTemplate(TEMPLATE_ID, &g_template);
    class Modal : public WDialog {
    public:
        Modal() : WDialog(nullptr, TEMPLATE_ID) { }
        void onDialogCreate() override
        {
            // Ended from the loop, as a button would end it.
            wplat::postMessage(getWindowHandle(), WM_COMMAND, 1, 0);
        }
        void onDialogClose() override { }
        void onPanelCommand(unsigned long id, unsigned long, WControl*) override
        {
            if (id == 1) {
                close(5);
                close(6);
            }
        }
    } dialog;
    EXPECT_EQ(dialog.show(true), 5);
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.getWindowHandle(), nullptr);
}

TEST_F(ControlMapperTest, ListsSelectTheItemWhoseKeyMatches)
{
    WStringTable items;
    items.put("1", "one");
    items.put("2", "two");
    for (bool combo : {false, true}) {
        unsigned long id = combo ? 31 : 30;
        HWND list = wplat::getDlgItem(dialog.getWindowHandle(), (int)id);
        UINT getSelection = combo ? 0x0147 : 0x0188;
        int chosen = 2;
        mapper.mapListIndex(id, &chosen, &items, combo);
        mapper.dataToControl(id);
        EXPECT_EQ(wplat::sendMessage(list, getSelection, 0, 0), 1) << combo;
        chosen = 5;
        mapper.dataToControl(id);
        EXPECT_EQ(wplat::sendMessage(list, getSelection, 0, 0), 0) << combo;
        mapper.controlToData(id);
        EXPECT_EQ(chosen, 1) << combo;

        WString key("2");
        mapper.mapListText(id, &key, &items, combo);
        mapper.dataToControl(id);
        EXPECT_EQ(wplat::sendMessage(list, getSelection, 0, 0), 1) << combo;
        key = "x";
        mapper.controlToData(id);
        EXPECT_STREQ(key.getBuf(), "2") << combo;
        EXPECT_TRUE(mapper.validate());
    }
}
