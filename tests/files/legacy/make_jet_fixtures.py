#!/usr/bin/env python3
"""Write small Microsoft Jet database files (.mdb) for the legacy import tests.

    python3 make_jet_fixtures.py OUTDIR

writes every fixture into OUTDIR. The output is the same, byte for byte, on
every run. Only the standard library is used.

The files are built from the Jet page layout as mdbtools documents it
(HACKING.md in the mdbtools sources) and hold just what a reader needs:

  page 0   database header: signature, Jet version, the RC4-masked block with
           sort order, code page, database key and password
  page 1   a data page whose rows are page usage maps (the file's own map,
           then the "owned pages" and "pages with free space" maps of every
           table)
  page 2   table definition (TDEF) of the catalog table MSysObjects
  then     MSysObjects' data page, and for each user table its TDEF page
           followed by its data pages

There are no indexes, no long-value (LVAL) pages and no property blobs; the
catalog's LvProp column is null for every object.

build_database() is usable as a library function: it takes a Jet version and
a list of Table objects and returns the file's bytes.
"""

import datetime
import hashlib
import os
import struct
import sys

JET3 = 3
JET4 = 4
ACE12 = 12  # Access 2007: the Jet 4 page layout with its own version byte

# Column types as stored in the TDEF column descriptors.
T_BOOL, T_BYTE, T_INT, T_LONG, T_MONEY, T_FLOAT, T_DOUBLE, T_DATETIME = range(1, 9)
T_BINARY, T_TEXT, T_OLE, T_MEMO = 9, 10, 11, 12

FIXED_SIZE = {T_BYTE: 1, T_INT: 2, T_LONG: 4, T_MONEY: 8, T_FLOAT: 4,
              T_DOUBLE: 8, T_DATETIME: 8}

# Column flag bits in the TDEF descriptor.
COL_FIXED = 0x01
COL_NULLABLE = 0x02

SORT_GENERAL = 0x0409   # "General" sort order, US English
CODE_PAGE = 1252

# Key of the RC4 stream that masks the header block from 0x18 on.
HEADER_KEY = bytes([0xC7, 0xDA, 0x39, 0x6B])

# Catalog Id / ParentId values of the container objects. A table's Id is the
# page number of its TDEF; the containers live in the 0x0F000000 range.
ID_ROOT = 0x0F000000
ID_TABLES = 0x0F000001
ID_DATABASES = 0x0F000002
ID_RELATIONSHIPS = 0x0F000003

SYSTEM_OBJECT = 0x80000000  # Flags bit that marks MSys* tables
OBJ_TABLE = 1
OBJ_CONTAINER = 3

EPOCH = datetime.datetime(1899, 12, 30)
CREATED = datetime.datetime(2004, 3, 15, 10, 20, 30)


class Fmt:
    """Sizes and offsets that differ between the Jet 3 and Jet 4 layouts."""

    def __init__(self, version):
        self.version = version
        self.jet3 = version == JET3
        if self.jet3:
            self.pg_size = 2048
            self.row_count_offset = 0x08       # data page: number of rows
            self.masked_len = 126              # bytes of the RC4-masked header block
            self.password_len = 20
            self.map_bytes = 128               # bitmap bytes of a usage map row
        else:
            self.pg_size = 4096
            self.row_count_offset = 0x0C
            self.masked_len = 128
            self.password_len = 40
            self.map_bytes = 64
        self.text_bytes_per_char = 1 if self.jet3 else 2


class Column:
    def __init__(self, name, col_type, length=0):
        """length is the declared number of characters for text columns."""
        self.name = name
        self.type = col_type
        self.length = length

    @property
    def fixed(self):
        return self.type in FIXED_SIZE


class Table:
    def __init__(self, name, columns, rows, system=False):
        self.name = name
        self.columns = columns
        self.rows = rows          # list of tuples, None for a null value
        self.system = system


class Text:
    """A text value with the Jet 4 storage form chosen explicitly.

    compress=True stores the 0xFF 0xFE compressed form when the string allows
    it; compress=False stores plain UCS-2. Plain str values use the rule
    Access follows: compressed when that is shorter.
    """

    def __init__(self, value, compress):
        self.value = value
        self.compress = compress

    def __str__(self):
        return self.value


# ---------------------------------------------------------------- encoding

def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray(len(data))
    i = j = 0
    for n, byte in enumerate(data):
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out[n] = byte ^ s[(s[i] + s[j]) & 0xFF]
    return bytes(out)


def compress_ucs2(text):
    """Jet 4 "Unicode compression", or None when the string cannot use it.

    After the 0xFF 0xFE marker characters below U+0100 take one byte; a zero
    byte switches to two-byte characters and back. A character whose low
    byte is zero cannot be written in either mode.
    """
    out = bytearray(b"\xff\xfe")
    one_byte = True
    for ch in text:
        code = ord(ch)
        if code > 0xFFFF or code & 0xFF == 0:
            return None
        wide = code > 0xFF
        if wide == one_byte:
            out.append(0)
            one_byte = not one_byte
        out += bytes([code]) if one_byte else struct.pack("<H", code)
    return bytes(out)


def encode_text(fmt, value):
    if fmt.jet3:
        return str(value).encode("cp1252")
    plain = str(value).encode("utf-16-le")
    packed = compress_ucs2(str(value))
    if isinstance(value, Text):
        if value.compress and packed is None:
            raise ValueError("cannot store %r compressed" % value.value)
        return packed if value.compress else plain
    return packed if packed is not None and len(packed) < len(plain) else plain


def encode_name(fmt, name):
    """A column name inside a TDEF: length prefix, then the name."""
    if fmt.jet3:
        raw = name.encode("cp1252")
        return bytes([len(raw)]) + raw
    raw = name.encode("utf-16-le")
    return struct.pack("<H", len(raw)) + raw


def encode_fixed(col, value):
    if col.type == T_INT:
        return struct.pack("<h", value)
    if col.type == T_LONG:
        return struct.pack("<I" if value >= 0 else "<i", value)
    if col.type == T_BYTE:
        return struct.pack("<B", value)
    if col.type in (T_DOUBLE, T_DATETIME):
        return struct.pack("<d", value)
    if col.type == T_FLOAT:
        return struct.pack("<f", value)
    raise ValueError("no fixed encoding for column type %d" % col.type)


def ole_date(when):
    return (when - EPOCH).total_seconds() / 86400.0


# ---------------------------------------------------------------- rows

def column_layout(columns):
    """Fixed-area offsets and variable-column slots, in column order."""
    fixed_offset, var_index = {}, {}
    pos = 0
    for i, col in enumerate(columns):
        if col.fixed:
            fixed_offset[i] = pos
            pos += FIXED_SIZE[col.type]
        else:
            var_index[i] = len(var_index)
    return fixed_offset, var_index, pos


def encode_row(fmt, columns, values):
    """One row as it sits on a data page.

    Layout: column count, the fixed-size columns, the variable columns' data,
    then (read backwards from the end of the row) the null mask, the number
    of variable columns, their start offsets and the end-of-data offset.
    A set bit in the null mask means "not null".
    """
    fixed_offset, var_index, fixed_len = column_layout(columns)
    ncols = len(columns)

    row = bytearray(struct.pack("<B" if fmt.jet3 else "<H", ncols))
    fixed = bytearray(fixed_len)
    mask = bytearray((ncols + 7) // 8)
    for i, (col, value) in enumerate(zip(columns, values)):
        if value is not None:
            mask[i // 8] |= 1 << (i % 8)
            if col.fixed:
                data = encode_fixed(col, value)
                fixed[fixed_offset[i]:fixed_offset[i] + len(data)] = data
    row += fixed

    if var_index:
        starts = []
        for i, col in enumerate(columns):
            if col.fixed:
                continue
            starts.append(len(row))
            value = values[i]
            if value is None:
                continue
            if col.type == T_TEXT:
                row += encode_text(fmt, value)
            elif col.type == T_BINARY:
                row += bytes(value)
            else:
                raise ValueError("only null long values are supported (%s)" % col.name)
        end_of_data = len(row)
        if fmt.jet3:
            row.append(end_of_data)
            row += bytes(reversed(starts))
            row.append(len(starts))
        else:
            row += struct.pack("<H", end_of_data)
            for start in reversed(starts):
                row += struct.pack("<H", start)
            row += struct.pack("<H", len(starts))
    row += mask
    if fmt.jet3 and len(row) > 256:
        # Longer Jet 3 rows need a jump table for their one-byte offsets;
        # no fixture row comes near that.
        raise ValueError("Jet 3 row longer than 256 bytes")
    return bytes(row)


# ---------------------------------------------------------------- pages

def data_page(fmt, tdef_page, rows):
    """A data page (type 0x01): header, row offset table, rows from the end."""
    page = bytearray(fmt.pg_size)
    rco = fmt.row_count_offset
    end = fmt.pg_size
    offsets = []
    for row in rows:
        end -= len(row)
        page[end:end + len(row)] = row
        offsets.append(end)
    header_end = rco + 2 + 2 * len(rows)
    if end < header_end:
        raise ValueError("rows do not fit on one page")
    page[0] = 0x01
    page[1] = 0x01
    struct.pack_into("<H", page, 2, end - header_end)     # free space
    struct.pack_into("<I", page, 4, tdef_page)
    struct.pack_into("<H", page, rco, len(rows))
    for n, off in enumerate(offsets):
        struct.pack_into("<H", page, rco + 2 + 2 * n, off)
    return page


def pack_rows(fmt, rows):
    """Split encoded rows into page-sized groups, keeping their order."""
    groups, current, used = [], [], fmt.row_count_offset + 2
    for row in rows:
        need = len(row) + 2
        if current and used + need > fmt.pg_size:
            groups.append(current)
            current, used = [], fmt.row_count_offset + 2
        current.append(row)
        used += need
    if current:
        groups.append(current)
    return groups


def usage_map(fmt, pages):
    """A type 0 usage map row: map type, first page, one bit per page."""
    bitmap = bytearray(fmt.map_bytes)
    for pg in pages:
        if pg >= 8 * fmt.map_bytes:
            raise ValueError("page %d outside the usage map" % pg)
        bitmap[pg // 8] |= 1 << (pg % 8)
    return b"\x00" + struct.pack("<I", 0) + bytes(bitmap)


def tdef_page(fmt, table, num_rows, used_map, free_map):
    """A table definition page (type 0x02) without indexes."""
    columns = table.columns
    fixed_offset, var_index, _ = column_layout(columns)
    num_var = len(var_index)
    ncols = len(columns)
    t = bytearray()
    t += bytes([0x02, 0x01]) + b"\x00\x00" + struct.pack("<I", 0)   # type, free space / 'VC', next page
    t += struct.pack("<I", 0)                     # definition length, set below
    if not fmt.jet3:
        t += struct.pack("<I", 0)                 # unknown
    t += struct.pack("<I", num_rows)
    t += struct.pack("<I", 0)                     # next autonumber value
    if not fmt.jet3:
        t += bytes(4)                             # autonumber flag + unknown
        t += struct.pack("<I", 0)                 # complex-column autonumber
        t += bytes(8)                             # unknown
    t += bytes([0x53 if table.system else 0x4E])  # 'S' system / 'N' user table
    t += struct.pack("<HHH", ncols, num_var, ncols)
    t += struct.pack("<II", 0, 0)                 # logical / physical index count
    t += struct.pack("<II", used_map, free_map)   # page/row of the two usage maps
    assert len(t) == (43 if fmt.jet3 else 63)

    for i, col in enumerate(columns):
        flags = (COL_FIXED if col.fixed else 0) | COL_NULLABLE
        if col.fixed:
            size = FIXED_SIZE[col.type]
        elif col.type == T_TEXT:
            size = col.length * fmt.text_bytes_per_char
        else:
            size = 0                              # memo / OLE
        is_text = col.type in (T_TEXT, T_MEMO)
        var_no = var_index.get(i, 0)
        fix_off = fixed_offset.get(i, 0)
        if fmt.jet3:
            d = struct.pack("<BHHHHHHBHH", col.type, i, var_no, i,
                            SORT_GENERAL if is_text else 0,
                            CODE_PAGE if is_text else 0, 0,
                            flags, fix_off, size)
            assert len(d) == 18
        else:
            d = struct.pack("<BIHHHHHBBIHH", col.type, 0, i, var_no, i,
                            SORT_GENERAL if is_text else 0, 0,
                            flags, 0x01 if is_text else 0x00,  # 0x01: compressed unicode allowed
                            0, fix_off, size)
            assert len(d) == 25
        t += d
    for col in columns:
        t += encode_name(fmt, col.name)
    t += b"\xff\xff"                               # end of the long-value column list

    if len(t) > fmt.pg_size:
        raise ValueError("table definition of %s does not fit on one page" % table.name)
    struct.pack_into("<I", t, 8, len(t))
    if fmt.jet3:
        t[2:4] = b"VC"
    else:
        struct.pack_into("<H", t, 2, fmt.pg_size - len(t) - 8)
    return bytes(t) + bytes(fmt.pg_size - len(t))


def header_page(fmt, version, password, db_key):
    """Page 0. Everything from 0x18 on for 126 (Jet 3) or 128 (Jet 4)
    bytes is masked with a fixed RC4 stream; the fields are written in the
    clear first and masked at the end."""
    page = bytearray(fmt.pg_size)
    page[0:4] = b"\x00\x01\x00\x00"
    signature = b"Standard ACE DB\x00" if version == ACE12 else b"Standard Jet DB\x00"
    page[4:20] = signature
    struct.pack_into("<I", page, 0x14, {JET3: 0, JET4: 1, ACE12: 2}[version])

    struct.pack_into("<H", page, 0x3C, CODE_PAGE)
    struct.pack_into("<I", page, 0x3E, db_key)
    pwd = bytearray(fmt.password_len)
    if fmt.jet3:
        struct.pack_into("<H", page, 0x3A, SORT_GENERAL)
        if password:
            raw = password.encode("cp1252")
            pwd[:len(raw)] = raw
    else:
        struct.pack_into("<HH", page, 0x6E, SORT_GENERAL, 0)
        created = ole_date(CREATED)
        struct.pack_into("<d", page, 0x72, created)
        if password:
            raw = password.encode("utf-16-le")
            pwd[:len(raw)] = raw
        # Jet 4 masks the whole password field (used or not) with the
        # creation date truncated to whole days, as a 32-bit little-endian
        # integer repeated every four bytes.
        mask = struct.pack("<i", int(created))
        pwd = bytearray(b ^ mask[n % 4] for n, b in enumerate(pwd))
    if len(pwd) > fmt.password_len:
        raise ValueError("password too long")
    page[0x42:0x42 + fmt.password_len] = pwd

    start = 0x18
    page[start:start + fmt.masked_len] = rc4(HEADER_KEY, bytes(page[start:start + fmt.masked_len]))
    return bytes(page)


# ---------------------------------------------------------------- database

def catalog_columns():
    return [
        Column("Id", T_LONG),
        Column("ParentId", T_LONG),
        Column("Name", T_TEXT, 255),
        Column("Type", T_INT),
        Column("DateCreate", T_DATETIME),
        Column("DateUpdate", T_DATETIME),
        Column("Flags", T_LONG),
        Column("Database", T_MEMO),
        Column("Connect", T_MEMO),
        Column("ForeignName", T_TEXT, 255),
        Column("LvProp", T_OLE),
    ]


def catalog_row(obj_id, parent, name, obj_type, flags):
    stamp = ole_date(CREATED)
    return (obj_id, parent, name, obj_type, stamp, stamp, flags, None, None, None, None)


def build_database(version, tables, password=None, db_key=0):
    """Return the bytes of a database holding the given user tables.

    version is JET3, JET4 or ACE12. db_key != 0 stores the database key in
    the header and RC4-encodes every page after page 0 with the key
    (db_key XOR page number, little-endian) as Access does for an encrypted
    database.
    """
    fmt = Fmt(version)

    # Encode every user table's rows first; they do not depend on page numbers.
    encoded = []
    for table in tables:
        rows = [encode_row(fmt, table.columns, r) for r in table.rows]
        encoded.append(pack_rows(fmt, rows))

    # Page numbers: 0 header, 1 usage maps, 2 catalog TDEF, 3 catalog data,
    # then per table its TDEF and data pages.
    next_page = 4
    placement = []
    for groups in encoded:
        tdef = next_page
        data = list(range(tdef + 1, tdef + 1 + len(groups)))
        placement.append((tdef, data))
        next_page = tdef + 1 + len(groups)
    total_pages = next_page

    catalog = Table("MSysObjects", catalog_columns(), [
        catalog_row(ID_TABLES, ID_ROOT, "Tables", OBJ_CONTAINER, 0),
        catalog_row(ID_DATABASES, ID_ROOT, "Databases", OBJ_CONTAINER, 0),
        catalog_row(ID_RELATIONSHIPS, ID_ROOT, "Relationships", OBJ_CONTAINER, 0),
        catalog_row(2, ID_TABLES, "MSysObjects", OBJ_TABLE, SYSTEM_OBJECT),
    ] + [
        catalog_row(tdef, ID_TABLES, table.name, OBJ_TABLE, 0)
        for table, (tdef, _) in zip(tables, placement)
    ], system=True)
    catalog_rows = [encode_row(fmt, catalog.columns, r) for r in catalog.rows]

    # Usage maps on page 1: row 0 for the whole file, then two per table.
    maps = [usage_map(fmt, range(total_pages))]
    map_refs = []
    for data_pages in [[3]] + [data for _, data in placement]:
        used_row = len(maps)
        maps.append(usage_map(fmt, data_pages))
        maps.append(usage_map(fmt, data_pages))
        map_refs.append(((1 << 8) | used_row, (1 << 8) | (used_row + 1)))

    pages = [None] * total_pages
    pages[0] = header_page(fmt, version, password, db_key)
    pages[1] = data_page(fmt, 0, maps)
    pages[2] = tdef_page(fmt, catalog, len(catalog.rows), *map_refs[0])
    pages[3] = data_page(fmt, 2, catalog_rows)
    for table, groups, (tdef, data), refs in zip(tables, encoded, placement, map_refs[1:]):
        pages[tdef] = tdef_page(fmt, table, len(table.rows), *refs)
        for pg, group in zip(data, groups):
            pages[pg] = data_page(fmt, tdef, group)

    if db_key:
        for pg in range(1, total_pages):
            pages[pg] = rc4(struct.pack("<I", db_key ^ pg), bytes(pages[pg]))
    return b"".join(bytes(p) for p in pages)


# ---------------------------------------------------------------- fixtures

COMMANDS = ["A10", "B500", "M1500", "N500\r@0G", "P4000\r@0G", "Z0", "G", "S",
            ".", "F", "+", "-", "H0", "H1", "O3", "?5", "&3_10", "X0", "W250",
            "U0,3,7", "&2,5", "Q"]

LISTINGS = {1: "Rampe 10", 3: "Fahrt 1500", 13: "Referenzfahrt", 20: "Ausgänge 0,3,7"}

COMMENTS = {1: "Beschleunigung", 3: "Zuführung", 4: "réglage à froid", 5: "Ø 12 mm",
            7: "Æblegrød", 9: "Halt", 12: "zurück", 16: "Eingang 5 prüfen",
            19: "Wartezeit 250 ms", 20: "Ersatzteil 4,50 €", 22: "Ende"}


def main_columns(with_comment=True):
    cols = [Column("LineNo", T_INT), Column("Address", T_INT),
            Column("Command", T_TEXT, 255), Column("Listing", T_TEXT, 255)]
    if with_comment:
        cols.append(Column("Comment", T_TEXT, 255))
    return cols


def command_size(command):
    # Bytes the command takes in the unit: its characters plus a terminator.
    return len(command.encode("ascii")) + 1


def program_rows():
    """The 22-line program, one line per command kind.

    Text storage alternates by line for Jet 4 files: even lines use the
    compressed form wherever it is possible and shorter, odd lines plain
    UCS-2, so both forms come out of the same table.
    """
    rows, address = [], 0
    for n, command in enumerate(COMMANDS, start=1):
        listing = LISTINGS.get(n, "!")
        comment = COMMENTS.get(n, " ")
        compress = n % 2 == 0

        def text(value):
            packed = compress_ucs2(value)
            shorter = packed is not None and len(packed) < 2 * len(value)
            return Text(value, compress and shorter)

        rows.append((n, address, text(command), text(listing), text(comment)))
        address += command_size(command)
    return rows


def long_program_rows(count):
    rows, address = [], 0
    for n in range(1, count + 1):
        command = COMMANDS[(n - 1) % len(COMMANDS)]
        rows.append((n, address, command, "!", "line %d" % n))
        address = (address + command_size(command)) % 0x8000
    return rows


def garbage(length, seed):
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(b"%s:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:length])


def fixtures():
    """Map of file name to file bytes."""
    program = program_rows()
    main = Table("Main", main_columns(), program)
    files = {}
    files["jet3-program.mdb"] = build_database(JET3, [main])
    files["jet4-program.mdb"] = build_database(JET4, [main])
    files["jet3-empty.mdb"] = build_database(JET3, [Table("Main", main_columns(), [])])
    files["jet4-empty.mdb"] = build_database(JET4, [Table("Main", main_columns(), [])])
    files["jet4-1000-lines.mdb"] = build_database(
        JET4, [Table("Main", main_columns(), long_program_rows(1000))])

    files["jet4-no-main.mdb"] = build_database(JET4, [Table("Lines", main_columns(), program)])
    files["jet3-four-fields.mdb"] = build_database(
        JET3, [Table("Main", main_columns(with_comment=False), [r[:4] for r in program])])
    files["jet4-password.mdb"] = build_database(JET4, [main], password="kqm")
    files["jet3-password.mdb"] = build_database(JET3, [main], password="kqm")
    files["jet4-encrypted.mdb"] = build_database(JET4, [main], db_key=0x5E2A9C17)
    files["access2007.accdb"] = build_database(ACE12, [main])

    # Cut in the middle of Main's (only) data page: pages 0-3 are the header,
    # the usage maps and the catalog, page 4 Main's TDEF, page 5 its rows.
    jet4 = files["jet4-program.mdb"]
    pg = Fmt(JET4).pg_size
    files["jet4-truncated.mdb"] = jet4[:5 * pg + pg // 2]

    # Main's TDEF (page 4) replaced by noise; page 0 and the rows stay as they are.
    jet3 = bytearray(files["jet3-program.mdb"])
    pg = Fmt(JET3).pg_size
    jet3[4 * pg:5 * pg] = garbage(pg, b"jet3-damaged")
    files["jet3-damaged.mdb"] = bytes(jet3)
    return files


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: %s OUTDIR\n" % os.path.basename(argv[0]))
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, data in sorted(fixtures().items()):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
        print("%-22s %7d bytes" % (name, len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
