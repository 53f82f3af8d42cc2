#pragma once

// What the legacy reader (kqm-legacy-reader) writes on its standard output
// for the tool that runs it. libmdb trusts the file it reads and can crash or
// loop on a damaged one, so it runs only in that child process; this header
// is all the two sides share, and holds no Qt so the reader starts fast.
//
// The output is a sequence of items: one tag byte, the payload's length as
// four bytes little-endian, the payload. The first item is Hello; a reading
// that went to the end closes with End. Anything else, an item cut short or a
// missing End, means the reader did not finish.
namespace kqm::files::reader {

inline constexpr char Hello[] = "kqm-legacy-reader 1";

enum Tag : unsigned char {
    HelloTag = 'H',       // payload: Hello
    OpenFailed = 'O',     // libmdb could not open the file
    NoCatalog = 'C',      // the list of tables could not be read
    UserTable = 'T',      // payload: the name of a user table (UTF-8)
    NoMain = 'M',         // no table Main; the UserTable items came before
    MainUnreadable = 'D', // the table Main's definition could not be read
    TooFewFields = 'F',   // payload: the number of fields, in decimal
    Record = 'R',         // a record starts; five Field items follow
    Field = 'V',          // payload: the stored length (4 bytes), then the text (UTF-8)
    End = 'E',            // payload: the record count the table declares, in decimal
};

inline constexpr unsigned FieldCount = 5;

} // namespace kqm::files::reader
