#pragma once

#include <memory>

#include "PlatformTypes.h"
#include "WDate.h"
#include "WHashtable.h"
#include "WString.h"

class WControl;
class WWindowContext;

typedef WHashtable<WString, WString, const char*, const char*> WStringTable;

// Binds the items of a dialog, by item id, to program variables: copies in
// both directions, validates the entered texts (mandatory, read-only, a
// regular expression) and marks invalid edit fields red.
class ControlMapper {
public:
    enum Type {
        TYPE_STRING = 1,
        TYPE_UNSIGNED = 2,
        TYPE_INT = 3,
        TYPE_DOUBLE = 4,
        TYPE_DATE = 5,
        TYPE_TABLE_VALUE = 6,
        TYPE_LIST_INDEX = 7,
        TYPE_LIST_TEXT = 8,
        TYPE_CHECK_BOX = 9,
    };

    class Mapping {
    public:
        Mapping(WWindowContext* context, unsigned long id, unsigned long type, const char* controlName, void* variable,
            WStringTable* items, bool useComboBox);
        ~Mapping();
        Mapping(const Mapping&) = delete;
        Mapping& operator=(const Mapping&) = delete;

        bool validate();
        void controlToData();
        void dataToControl();
        int readInt();
        double readDouble();
        // Type 2: the text as a decimal number; false when it is not one.
        bool readUnsigned(unsigned int& value) const;

        unsigned long type;
        void* variable;
        std::unique_ptr<WControl> control;
        WStringTable* items;
        WString regex;
        unsigned long precision;
        bool decimalComma;
        bool mandatory;
        bool readOnly;
        bool useComboBox;
        // Numbers (types 2 and 3) outside [minimum, maximum] are invalid.
        long long minimum;
        long long maximum;
        // Colours of a text field (RGB values) and the field's brush (owned by it).
        unsigned long textColor;
        unsigned long backColor;
        bool coloured;
        HBRUSH backBrush;

        void setColor(unsigned long text, unsigned long back);
        WString getText() const;
        void setText(const char* text);
    };

    ControlMapper();
    explicit ControlMapper(WWindowContext* context);
    ~ControlMapper();
    ControlMapper(const ControlMapper&) = delete;
    ControlMapper& operator=(const ControlMapper&) = delete;

    void setWindowContext(WWindowContext* context);
    void removeAll();
    bool unmap(unsigned long id);

    void mapString(unsigned long id, WString* variable);
    void mapUnsigned(unsigned long id, unsigned int* variable);
    void mapInt(unsigned long id, int* variable);
    void mapDouble(unsigned long id, double* variable);
    void mapDate(unsigned long id, WDate* variable);
    void mapTableValue(unsigned long id, const char* controlName, WStringTable* table);
    void mapListIndex(unsigned long id, int* variable, WStringTable* items, bool useComboBox);
    void mapListText(unsigned long id, WString* variable, WStringTable* items, bool useComboBox);
    void mapCheckBox(unsigned long id, bool* variable);

    void setOptions(
        unsigned long id, const char* regex, bool mandatory, unsigned long precision, bool decimalComma, bool readOnly);
    void setMandatory(unsigned long id, bool mandatory);
    void setReadOnly(unsigned long id, bool readOnly);
    void setRegex(unsigned long id, const char* pattern);
    // A number field accepts only values in [minimum, maximum].
    void setRange(unsigned long id, long long minimum, long long maximum);
    unsigned long setPrecision(unsigned long id, unsigned long digits);
    unsigned long setDecimalFormat(unsigned long id, bool decimalComma, unsigned long digits);

    void dataToControl(unsigned long id);
    void dataToControls();
    void controlToData(unsigned long id);
    void controlsToData();
    // Copies only the fields that pass validation; a refused field leaves
    // its variable at the last value it was given.
    void validControlsToData();
    bool validate();
    void focusFirst();
    bool focusNext(unsigned long id);

    // The binding of an id, or null.
    Mapping* getMapping(unsigned long id) const;
    // The brush of a coloured text field (WM_CTLCOLOREDIT), or null.
    HBRUSH getEditBrush(HWND field, unsigned long& textColor) const;

private:
    void add(unsigned long id, unsigned long type, const char* controlName, void* variable, WStringTable* items,
        bool useComboBox);
    // The bindings in walk order.
    template <class F>
    void forEach(F f) const;

    WWindowContext* context;
    using Table = WHashtable<unsigned long, std::shared_ptr<Mapping>, unsigned long, const std::shared_ptr<Mapping>&>;
    Table mappings;
};

// Reads a decimal number (digits only, blanks around them allowed) that fits an
// unsigned int; false, with 0, for anything else ("0x1F", "12abc", "").
bool parseUnsigned(const char* text, unsigned int& value);

// True when the PCRE pattern matches the text (the pattern compiled with
// no options, one run from offset 0, room for ten captures).
bool matchRegex(const char* pattern, const WString& text);
