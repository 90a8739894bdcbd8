#pragma once

// Linux programs carry no resource section: a program registers its string
// table here at start-up and WResourceString loads from it by id.
struct WStringResource {
    unsigned long id;
    const char* text;
};

class WResources {
public:
    // Adds a table; entries stay owned by the caller and must outlive the library.
    static void registerStrings(const WStringResource* table, unsigned long count);
    // The text for id, or nullptr when no registered table has it.
    static const char* findString(unsigned long id);
};
