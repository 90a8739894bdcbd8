#pragma once

// The environment and connection handles of one ODBC connection, shared with
// the statements made from it. The connection's close() empties both after
// freeing them; a statement then knows that its own handle went with the
// connection (a driver manager frees a connection's statements on
// disconnect) and never passes a freed handle on. A connection deleted while
// statements still hold the link leaves it open for them; the last holder
// disconnects and frees the handles.
class ODBC_WSQLLink {
public:
    ODBC_WSQLLink() = default;
    ~ODBC_WSQLLink();
    ODBC_WSQLLink(const ODBC_WSQLLink&) = delete;
    ODBC_WSQLLink& operator=(const ODBC_WSQLLink&) = delete;

    bool isOpen() const { return hdbc != nullptr; }

    void* henv = nullptr;
    void* hdbc = nullptr;
};
