#include "ControlMapper.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Platform.h"
#include "WControl.h"
#include "WControlEdit.h"
#include "WException.h"
#include "WStringTokenizer.h"
#include "WSystem.h"

namespace {

// Button, list-box and combo-box messages the bindings send.
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;

constexpr unsigned long RED = 255;
constexpr unsigned long WHITE = 0xFFFFFF;

// The wrapper of one bound dialog item; edit fields count as text controls.
class MappedControl : public WControl {
public:
    MappedControl(WWindowContext* owner, const char* controlName, unsigned long id, bool text)
        : WControl(owner, controlName, id), textControl(text)
    {
    }
    bool isTextControl() const override { return textControl; }

private:
    bool textControl;
};

bool isEditType(unsigned long type)
{
    return type >= ControlMapper::TYPE_STRING && type <= ControlMapper::TYPE_TABLE_VALUE;
}

int scanInt(const char* text)
{
    int value = 0;
    if (sscanf(text, "%i", &value) != 1) value = 0;
    return value;
}

} // namespace

bool parseUnsigned(const char* text, unsigned int& value)
{
    value = 0;
    if (text == nullptr) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p < '0' || *p > '9') return false;
    unsigned long long number = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        number = number * 10 + (unsigned long long)(*p - '0');
        if (number > UINT_MAX) return false;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p != '\0') return false;
    value = (unsigned int)number;
    return true;
}

bool matchRegex(const char* pattern, const WString& text)
{
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile((PCRE2_SPTR)pattern, PCRE2_ZERO_TERMINATED, 0, &error, &offset, nullptr);
    if (code == nullptr) return false;
    pcre2_match_data* data = pcre2_match_data_create(10, nullptr);
    int result
        = data != nullptr ? pcre2_match(code, (PCRE2_SPTR)text.getBuf(), text.length(), 0, 0, data, nullptr) : -1;
    if (data != nullptr) pcre2_match_data_free(data);
    pcre2_code_free(code);
    return result > 0;
}

// --- Mapping ---------------------------------------------------------------------

ControlMapper::Mapping::Mapping(WWindowContext* context, unsigned long id, unsigned long mappingType,
    const char* controlName, void* boundVariable, WStringTable* listItems, bool comboBox)
    : type(mappingType), variable(boundVariable), items(listItems), precision(2), decimalComma(false),
      mandatory(mappingType == TYPE_STRING || mappingType == TYPE_DATE || mappingType == TYPE_TABLE_VALUE),
      readOnly(false), useComboBox(comboBox), minimum(LLONG_MIN), maximum(LLONG_MAX), textColor(0), backColor(WHITE),
      coloured(false), backBrush(nullptr)
{
    if (type < TYPE_STRING || type > TYPE_CHECK_BOX) return;
    const char* name = type == TYPE_TABLE_VALUE && controlName != nullptr ? controlName : "";
    if (isEditType(type))
        control = std::make_unique<WControlEdit>(context, name, id);
    else
        control = std::make_unique<MappedControl>(context, name, id, false);
}

ControlMapper::Mapping::~Mapping()
{
    try {
        control.reset();
    } catch (WException&) {
    }
}

WString ControlMapper::Mapping::getText() const
{
    WString text;
    if (control == nullptr) return text;
    text = wplat::getWindowText(control->getWindowHandle()).c_str();
    return text;
}

void ControlMapper::Mapping::setText(const char* text)
{
    if (control != nullptr) wplat::setWindowText(control->getWindowHandle(), text != nullptr ? text : "");
}

void ControlMapper::Mapping::setColor(unsigned long text, unsigned long back)
{
    textColor = text;
    backColor = back;
    coloured = true;
    // The field paints itself with these through its panel.
    auto* edit = dynamic_cast<WControlEdit*>(control.get());
    if (edit != nullptr) {
        edit->setColor(text, back);
        backBrush = edit->getBackColorBrush();
    }
}

int ControlMapper::Mapping::readInt()
{
    return scanInt(getText());
}

bool ControlMapper::Mapping::readUnsigned(unsigned int& value) const
{
    return parseUnsigned(getText(), value);
}

double ControlMapper::Mapping::readDouble()
{
    WString text = getText();
    if (decimalComma) text.replace(',', '.');
    // Read as a double: a float would lose digits of larger values.
    double value = 0;
    if (sscanf(text, "%lf", &value) != 1) value = 0;
    if (text.length() > 0 && text[text.length() - 1] == '-') value = -value;
    return WSystem::round(value, (int)precision);
}

bool ControlMapper::Mapping::validate()
{
    if (type == TYPE_LIST_INDEX || type == TYPE_LIST_TEXT || type == TYPE_CHECK_BOX) return true;
    WString text = getText();
    bool empty;
    long long number = 0;
    switch (type) {
    case TYPE_UNSIGNED: {
        // Read as the transfer reads it, so what passes is what gets stored.
        unsigned int value = 0;
        if (!readUnsigned(value)) value = 0;
        number = value;
        empty = value == 0;
        break;
    }
    case TYPE_INT:
        number = scanInt(text);
        empty = number == 0;
        break;
    case TYPE_DOUBLE:
        empty = readDouble() == 0;
        break;
    default:
        empty = text.length() == 0;
        break;
    }
    if (empty) return !mandatory || readOnly;
    if (readOnly) return true;
    if ((type == TYPE_UNSIGNED || type == TYPE_INT) && (number < minimum || number > maximum)) return false;
    if (regex.length() > 0) return matchRegex(regex, text);
    return true;
}

void ControlMapper::Mapping::dataToControl()
{
    if (control == nullptr || variable == nullptr) return;
    HWND item = control->getWindowHandle();
    switch (type) {
    case TYPE_STRING:
        setText(*(WString*)variable);
        break;
    case TYPE_UNSIGNED:
        setText(WFormattedString("%u", *(unsigned int*)variable));
        break;
    case TYPE_INT:
        setText(WFormattedString("%i", *(int*)variable));
        break;
    case TYPE_DOUBLE: {
        WFormattedString format("%%.%luf", precision);
        WString text = WFormattedString(format.getBuf(), *(double*)variable);
        if (decimalComma) text.replace('.', ',');
        setText(text);
        break;
    }
    case TYPE_DATE:
        setText(((WDate*)variable)->format("%d.%m.%Y"));
        break;
    case TYPE_TABLE_VALUE: {
        auto* table = (WStringTable*)variable;
        WString* value = table->find(control->getName());
        setText(value != nullptr ? value->getBuf() : "");
        break;
    }
    case TYPE_LIST_INDEX:
    case TYPE_LIST_TEXT: {
        wplat::sendMessage(item, useComboBox ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
        long chosen = -1;
        if (items != nullptr) {
            WStringTable walk(*items);
            long index = 0;
            while (walk.hasMoreElements()) {
                const char* key = walk.currentKey();
                LRESULT at = wplat::sendMessage(
                    item, useComboBox ? CB_ADDSTRING : LB_ADDSTRING, 0, (LPARAM)(const char*)walk.currentValue());
                // The text keys stay in the caller's table, which outlives the list.
                LPARAM data = (LPARAM)scanInt(key);
                if (type == TYPE_LIST_TEXT) {
                    WStringTable::WHash* entry = nullptr;
                    items->find(key, &entry);
                    data = entry != nullptr ? (LPARAM)entry->key.getBuf() : 0;
                }
                wplat::sendMessage(item, useComboBox ? CB_SETITEMDATA : LB_SETITEMDATA, (WPARAM)at, data);
                bool matches
                    = type == TYPE_LIST_INDEX ? scanInt(key) == *(int*)variable : ((WString*)variable)->equals(key);
                if (matches && chosen < 0) chosen = index;
                index++;
            }
        }
        wplat::sendMessage(item, useComboBox ? CB_SETCURSEL : LB_SETCURSEL, (WPARAM)(chosen < 0 ? 0 : chosen), 0);
        break;
    }
    case TYPE_CHECK_BOX:
        wplat::sendMessage(item, BM_SETCHECK, *(bool*)variable ? 1 : 0, 0);
        break;
    default:
        break;
    }
}

void ControlMapper::Mapping::controlToData()
{
    if (control == nullptr || variable == nullptr) return;
    HWND item = control->getWindowHandle();
    switch (type) {
    case TYPE_STRING:
        *(WString*)variable = getText();
        break;
    case TYPE_UNSIGNED: {
        unsigned int value = 0;
        if (!readUnsigned(value)) value = 0;
        *(unsigned int*)variable = value;
        break;
    }
    case TYPE_INT:
        *(int*)variable = readInt();
        break;
    case TYPE_DOUBLE:
        *(double*)variable = readDouble();
        break;
    case TYPE_DATE: {
        WStringTokenizer tokens(getText(), ".", true);
        if (tokens.size() > 2) {
            int day = scanInt(tokens.nextValue());
            int month = scanInt(tokens.nextValue());
            int year = scanInt(tokens.nextValue());
            if (year < 100) year += 2000;
            ((WDate*)variable)->parse(year, month, day, 12, 0, 0, WDate::TIME_ZONE_DEFAULT);
        }
        break;
    }
    case TYPE_TABLE_VALUE:
        ((WStringTable*)variable)->put(control->getName(), getText());
        break;
    case TYPE_LIST_INDEX:
    case TYPE_LIST_TEXT: {
        LRESULT at = wplat::sendMessage(item, useComboBox ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
        if (at < 0) break; // no selection: the variable keeps its value
        LRESULT data = wplat::sendMessage(item, useComboBox ? CB_GETITEMDATA : LB_GETITEMDATA, (WPARAM)at, 0);
        if (type == TYPE_LIST_INDEX)
            *(int*)variable = (int)data;
        else if (data != 0 && data != -1)
            *(WString*)variable = (const char*)data;
        break;
    }
    case TYPE_CHECK_BOX:
        *(bool*)variable = wplat::sendMessage(item, BM_GETCHECK, 0, 0) == 1;
        break;
    default:
        break;
    }
}

// --- ControlMapper ---------------------------------------------------------------

ControlMapper::ControlMapper() : context(nullptr)
{
}

ControlMapper::ControlMapper(WWindowContext* windowContext) : context(nullptr)
{
    setWindowContext(windowContext);
}

ControlMapper::~ControlMapper()
{
    try {
        removeAll();
    } catch (WException&) {
    }
}

template <class F>
void ControlMapper::forEach(F f) const
{
    // A copy of the bindings in walk order: f may unmap or re-map.
    std::vector<std::shared_ptr<Mapping>> ordered;
    Table walk(mappings);
    while (walk.hasMoreElements())
        ordered.push_back(walk.currentValue());
    for (const auto& m : ordered)
        f(m.get());
}

void ControlMapper::setWindowContext(WWindowContext* windowContext)
{
    removeAll();
    context = windowContext;
}

void ControlMapper::removeAll()
{
    mappings.removeAll();
}

bool ControlMapper::unmap(unsigned long id)
{
    if (mappings.find(id) == nullptr) return false;
    mappings.remove(id);
    return true;
}

ControlMapper::Mapping* ControlMapper::getMapping(unsigned long id) const
{
    std::shared_ptr<Mapping>* found = mappings.find(id);
    return found != nullptr ? found->get() : nullptr;
}

void ControlMapper::add(unsigned long id, unsigned long type, const char* controlName, void* variable,
    WStringTable* items, bool useComboBox)
{
    unmap(id);
    mappings.put(id, std::make_shared<Mapping>(context, id, type, controlName, variable, items, useComboBox));
}

void ControlMapper::mapString(unsigned long id, WString* variable)
{
    add(id, TYPE_STRING, "", variable, nullptr, false);
}
void ControlMapper::mapUnsigned(unsigned long id, unsigned int* variable)
{
    add(id, TYPE_UNSIGNED, "", variable, nullptr, false);
}
void ControlMapper::mapInt(unsigned long id, int* variable)
{
    add(id, TYPE_INT, "", variable, nullptr, false);
}
void ControlMapper::mapDouble(unsigned long id, double* variable)
{
    add(id, TYPE_DOUBLE, "", variable, nullptr, false);
}

void ControlMapper::mapDate(unsigned long id, WDate* variable)
{
    add(id, TYPE_DATE, "", variable, nullptr, false);
    setOptions(id, "^([0-9]{1,2}).([0-9]{1,2}).([0-9]{4})$", true, 2, false, false);
}

void ControlMapper::mapTableValue(unsigned long id, const char* controlName, WStringTable* table)
{
    add(id, TYPE_TABLE_VALUE, controlName, table, nullptr, false);
}

void ControlMapper::mapListIndex(unsigned long id, int* variable, WStringTable* items, bool useComboBox)
{
    add(id, TYPE_LIST_INDEX, "", variable, items, useComboBox);
}

void ControlMapper::mapListText(unsigned long id, WString* variable, WStringTable* items, bool useComboBox)
{
    add(id, TYPE_LIST_TEXT, "", variable, items, useComboBox);
}

void ControlMapper::mapCheckBox(unsigned long id, bool* variable)
{
    add(id, TYPE_CHECK_BOX, "", variable, nullptr, false);
}

void ControlMapper::setOptions(
    unsigned long id, const char* regex, bool mandatory, unsigned long precision, bool decimalComma, bool readOnly)
{
    Mapping* m = getMapping(id);
    if (m == nullptr) return;
    m->regex = regex != nullptr ? regex : "";
    m->mandatory = mandatory;
    m->precision = precision;
    m->decimalComma = decimalComma;
    m->readOnly = readOnly;
}

void ControlMapper::setRange(unsigned long id, long long minimum, long long maximum)
{
    if (Mapping* m = getMapping(id)) {
        m->minimum = minimum;
        m->maximum = maximum;
    }
}

void ControlMapper::setMandatory(unsigned long id, bool mandatory)
{
    if (Mapping* m = getMapping(id)) m->mandatory = mandatory;
}

void ControlMapper::setReadOnly(unsigned long id, bool readOnly)
{
    if (Mapping* m = getMapping(id)) m->readOnly = readOnly;
}

void ControlMapper::setRegex(unsigned long id, const char* pattern)
{
    if (Mapping* m = getMapping(id)) m->regex = pattern != nullptr ? pattern : "";
}

unsigned long ControlMapper::setPrecision(unsigned long id, unsigned long digits)
{
    Mapping* m = getMapping(id);
    if (m == nullptr) return 0;
    m->precision = digits;
    return digits;
}

unsigned long ControlMapper::setDecimalFormat(unsigned long id, bool decimalComma, unsigned long digits)
{
    Mapping* m = getMapping(id);
    if (m == nullptr) return 0;
    m->decimalComma = decimalComma;
    m->precision = digits;
    return digits;
}

void ControlMapper::dataToControl(unsigned long id)
{
    if (Mapping* m = getMapping(id)) m->dataToControl();
}

void ControlMapper::dataToControls()
{
    forEach([](Mapping* m) { m->dataToControl(); });
}

void ControlMapper::controlToData(unsigned long id)
{
    if (Mapping* m = getMapping(id)) m->controlToData();
}

void ControlMapper::controlsToData()
{
    forEach([](Mapping* m) { m->controlToData(); });
}

void ControlMapper::validControlsToData()
{
    forEach([](Mapping* m) {
        if (m->validate()) m->controlToData();
    });
}

bool ControlMapper::validate()
{
    unsigned long invalid = 0;
    forEach([&invalid](Mapping* m) {
        bool valid = m->validate();
        if (m->control != nullptr && m->control->isTextControl()) {
            HWND field = m->control->getWindowHandle();
            if (!valid) {
                m->setColor(0, RED);
                wplat::invalidateRect(field, nullptr, true);
            } else if (m->coloured && m->backColor == RED) {
                m->setColor(0, WHITE);
                wplat::invalidateRect(field, nullptr, true);
            }
        }
        if (!valid) invalid++;
    });
    return invalid == 0;
}

HBRUSH ControlMapper::getEditBrush(HWND field, unsigned long& textColor) const
{
    HBRUSH brush = nullptr;
    forEach([&](Mapping* m) {
        if (m->control != nullptr && m->control->getWindowHandle() == field && m->coloured) {
            brush = m->backBrush;
            textColor = m->textColor;
        }
    });
    return brush;
}

void ControlMapper::focusFirst()
{
    mappings.reset();
    if (mappings.hasMoreElements()) {
        Mapping* first = mappings.currentValue().get();
        if (first->control != nullptr) first->control->setFocusWindow(true, false);
    }
    mappings.reset();
}

bool ControlMapper::focusNext(unsigned long id)
{
    std::vector<std::pair<unsigned long, std::shared_ptr<Mapping>>> ordered;
    {
        Table walk(mappings);
        while (walk.hasMoreElements())
            ordered.emplace_back(walk.currentKey(), walk.currentValue());
    }
    size_t at = 0;
    while (at < ordered.size() && ordered[at].first != id)
        at++;
    if (at == ordered.size()) return false;
    if (at + 1 == ordered.size()) focusFirst();
    for (size_t i = at + 1; i < ordered.size(); i++) {
        Mapping* m = ordered[i].second.get();
        if (!m->readOnly && m->control != nullptr) {
            m->control->setFocusWindow(true, false);
            return true;
        }
    }
    return false;
}
