// kqm-legacy-reader FILE: reads the table Main of an Access program file with
// libmdb and writes its records on standard output (legacy_reader_protocol.h).
//
// libmdb believes every pointer in the file, so a damaged file can crash it
// or send it round a loop; that is why it runs here, in a process of its
// own, and never in the window or in kqmctl. Whatever libmdb says about the
// file goes to standard error, which the tool reads but never shows.
#include "legacy_reader_protocol.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// libmdb's header wants glib's declarations first.
#include <glib.h>

#include <mdbtools.h>

namespace {

using namespace kqm::files::reader;

void item(Tag tag, const void* payload = nullptr, std::uint32_t size = 0) {
    unsigned char head[5] = {static_cast<unsigned char>(tag),
                             static_cast<unsigned char>(size & 0xFF),
                             static_cast<unsigned char>((size >> 8) & 0xFF),
                             static_cast<unsigned char>((size >> 16) & 0xFF),
                             static_cast<unsigned char>((size >> 24) & 0xFF)};
    std::fwrite(head, 1, sizeof head, stdout);
    if (size)
        std::fwrite(payload, 1, size, stdout);
}

void item(Tag tag, const std::string& payload) {
    item(tag, payload.data(), static_cast<std::uint32_t>(payload.size()));
}

// How many bytes of text the file holds for the column's value in the
// current record: none for a null or empty value, also where Jet 4 wrote an
// empty text as its compression mark alone, or a memo as a header saying
// nothing follows.
std::uint32_t storedLength(MdbHandle* mdb, const MdbColumn* column) {
    const int length = column->cur_value_len;
    const int start = column->cur_value_start;
    if (length <= 0)
        return 0;
    if (start < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(length) >
                         static_cast<std::size_t>(mdb->fmt->pg_size))
        return static_cast<std::uint32_t>(length);
    const unsigned char* value = static_cast<const unsigned char*>(mdb->pg_buf) + start;
    if (column->col_type == MDB_TEXT && length == 2 && value[0] == 0xFF && value[1] == 0xFE)
        return 0;
    if (column->col_type == MDB_MEMO && length >= 4)
        return (value[0] | value[1] << 8 | value[2] << 16 | (value[3] & 0x3Fu) << 24);
    return static_cast<std::uint32_t>(length);
}

int read(const char* path) {
    item(HelloTag, std::string(Hello));
    MdbHandle* mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb) {
        item(OpenFailed);
        return 0;
    }
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        item(NoCatalog);
        return 0;
    }
    MdbCatalogEntry* programTable = nullptr;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        item(UserTable, std::string(entry->object_name));
        if (!programTable && g_ascii_strcasecmp(entry->object_name, "Main") == 0)
            programTable = entry;
    }
    if (!programTable) {
        item(NoMain);
        return 0;
    }
    MdbTableDef* table = mdb_read_table(programTable);
    if (!table || !mdb_read_columns(table)) {
        item(MainUnreadable);
        return 0;
    }
    if (table->num_cols < FieldCount) {
        item(TooFewFields, std::to_string(table->num_cols));
        return 0;
    }
    mdb_rewind_table(table);
    // Fields by position: the first five columns, whatever their names.
    std::vector<std::vector<char>> values(FieldCount, std::vector<char>(mdb->bind_size + 1));
    std::vector<int> lengths(FieldCount);
    std::vector<MdbColumn*> columns(FieldCount);
    for (unsigned field = 0; field < FieldCount; ++field) {
        mdb_bind_column(table, static_cast<int>(field + 1), values[field].data(), &lengths[field]);
        columns[field] = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, field));
    }
    while (mdb_fetch_row(table)) {
        item(Record);
        for (unsigned field = 0; field < FieldCount; ++field) {
            // The stored length beside the text lets the tool tell a field
            // libmdb could not make text of from one the file left empty.
            const std::uint32_t stored = storedLength(mdb, columns[field]);
            const std::uint32_t length = static_cast<std::uint32_t>(
                std::min<std::size_t>(std::max(0, lengths[field]), mdb->bind_size));
            std::string payload(4, '\0');
            for (int i = 0; i < 4; ++i)
                payload[static_cast<std::size_t>(i)] =
                    static_cast<char>((stored >> (8 * i)) & 0xFF);
            payload.append(values[field].data(), length);
            item(Field, payload);
        }
    }
    item(End, std::to_string(table->num_rows));
    // The process ends here: what libmdb allocated goes with it, and a
    // damaged file cannot crash a clean-up that nobody needs.
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kqm-legacy-reader FILE\n", stderr);
        return 2;
    }
    // A crash on a damaged file is expected now and then; it leaves no core
    // file behind in the user's folder.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const int status = read(argv[1]);
    return std::fflush(stdout) == 0 ? status : 1;
}
