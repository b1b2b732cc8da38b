"""Reads what the package check needs from a Windows PE file (program or DLL).

Every offset comes from the file itself, so each is checked against the data
before it is used: a damaged file gives an error text, never a read past the
end. Each reader returns (result, error): error is None on success.
"""
import struct

# The MZ header is 64 bytes; real files put the PE header well below this.
HEADER_LIMIT = 64 * 1024
IMAGE_FILE_DLL = 0x2000


def _unpack(fmt, data, offset):
    """The fields at offset, or None when they do not lie within data."""
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        return None
    return struct.unpack_from(fmt, data, offset)


def read_header(stream):
    """Reads at most HEADER_LIMIT bytes from stream; returns
    ((machine, characteristics), error) from the COFF file header."""
    head = stream.read(64)
    if len(head) < 64 or head[:2] != b'MZ':
        return None, 'no MZ header'
    (pe_offset,) = _unpack('<I', head, 0x3C)
    if pe_offset < 64 or pe_offset + 24 > HEADER_LIMIT:
        return None, f'PE header offset {pe_offset:#x} out of range'
    data = head + stream.read(pe_offset + 24 - 64)
    if data[pe_offset:pe_offset + 4] != b'PE\0\0':
        return None, 'no PE signature'
    fields = _unpack('<HHIIIHH', data, pe_offset + 4)
    if fields is None:
        return None, 'file header truncated'
    return (fields[0], fields[6]), None


def _rva_to_offset(data, sections, rva):
    for virtual_address, virtual_size, raw_offset, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            offset = raw_offset + rva - virtual_address
            return offset if offset < len(data) else None
    return None


def _c_string(data, offset, limit=256):
    end = data.find(b'\0', offset, offset + limit)
    return None if end < 0 else data[offset:end].decode('ascii', 'replace')


def _sections(data, pe_offset):
    """(import table address, section list) or (None, error)."""
    fields = _unpack('<HHIIIHH', data, pe_offset + 4)
    if fields is None:
        return None, 'file header truncated'
    section_count, optional_size = fields[1], fields[5]
    optional = pe_offset + 24
    magic = _unpack('<H', data, optional)
    # The data directories follow 96 (PE32) or 112 (PE32+) bytes of fields.
    skip = {0x10B: 96, 0x20B: 112}.get(magic[0] if magic else None)
    if skip is None:
        return None, 'unknown optional header'
    directories = optional + skip
    count = _unpack('<I', data, directories - 4)
    imports = _unpack('<I', data, directories + 8)
    if count is None or imports is None:
        return None, 'optional header truncated'
    sections = []
    table = optional + optional_size
    for i in range(section_count):
        entry = _unpack('<IIII', data, table + 40 * i + 8)
        if entry is None:
            return None, 'section table truncated'
        virtual_size, virtual_address, raw_size, raw_offset = entry
        sections.append((virtual_address, virtual_size, raw_offset, raw_size))
    return (imports[0] if count[0] >= 2 else 0, sections), None


def imported_dlls(data):
    """(names of the DLLs the file data imports from, error)."""
    pe_offset = _unpack('<I', data, 0x3C)
    if pe_offset is None:
        return None, 'no MZ header'
    layout, error = _sections(data, pe_offset[0])
    if error:
        return None, error
    import_rva, sections = layout
    if import_rva == 0:
        return [], None
    offset = _rva_to_offset(data, sections, import_rva)
    if offset is None:
        return None, 'import table outside the file'
    names = []
    # A bound on the descriptors, so that a table without its zero end stops.
    for i in range(4096):
        fields = _unpack('<IIIII', data, offset + 20 * i)
        if fields is None:
            return None, 'import table truncated'
        if not any(fields):
            return names, None
        name_offset = _rva_to_offset(data, sections, fields[3])
        name = None if name_offset is None else _c_string(data, name_offset)
        if name is None:
            return None, 'import name unreadable'
        names.append(name)
    return None, 'import table without an end'
