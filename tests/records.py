"""Reading the gateway's channel and input-device records in tests, apart from the tool's own code.

Offsets come from the record layouts: a channel record has a 16-byte header
(length, CRC, version, change count, all little-endian 32-bit), 64 gear
entries from offset 60 and 16 group entries of 38 bytes.
"""

import io
import struct
import tarfile

# Channel record layouts by header version: length, gear entry size, name offset in an entry, group table.
LAYOUT = {1: (11168, 152, 94, 9788), 2: (10912, 160, 106, 10300), 3: (7072, 100, 45, 6460)}
INPUT_LENGTH = {2: 9436, 3: 9564}


def crc16(data):
    """CRC-16/MCRF4XX, bit by bit."""
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def header(record):
    """(length, crc, version, change_count)"""
    return struct.unpack_from("<4I", record)


def crc_is_valid(record):
    return header(record)[1] == crc16(record[:4] + b"\0" * 4 + record[8:])


def text(record, offset, size):
    return record[offset:offset + size].split(b"\0")[0].decode()


def gear_names(record):
    _, size, name, _ = LAYOUT[max(header(record)[2], 1)]
    return [text(record, 60 + size * slot + name, 33) for slot in range(64)]


def group_names(record):
    table = LAYOUT[max(header(record)[2], 1)][3]
    return [text(record, table + 38 * g, 33) for g in range(16)]


def tar_bytes(members):
    """A tar archive holding (name, bytes) members."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name, data in members:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return out.getvalue()


def tar_member(archive, name):
    """The bytes of member `name` of a tar archive given as bytes."""
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        return tar.extractfile(name).read()


def member_names(archive):
    """The member names of a tar archive given as bytes, in order."""
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        return tar.getnames()
