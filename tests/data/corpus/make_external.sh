# Section "external": reference movies, whose video samples lie in another
# file that a data reference ('dref') names instead of this one. Made from
# the bundled clip's moov, the mdat left out (it is the other file's): one
# with an ISO 'url ' entry, one with a QuickTime alias ('alis') record, as
# editors write them. Neither has a row: nothing can decode them alone (the
# alias names a path libavformat will not open, the 'url ' offsets lie past
# the end), and the source's tests check that they are refused at once.
# Needs only python3.

python3 - "$CORPUS_DIR/../h264_high_bframes.mp4" "$CORPUS_DIR" <<'PYTHON'
import struct, sys

source, out_dir = sys.argv[1], sys.argv[2]
data = open(source, 'rb').read()

def box(kind, body):
    return struct.pack('>I4s', 8 + len(body), kind) + body

def children(buf):
    at, found = 0, []
    while at < len(buf):
        size, kind = struct.unpack('>I4s', buf[at:at + 8])
        found.append((kind, buf[at + 8:at + size]))
        at += size
    return found

# Rebuilds `buf`'s boxes, the dref at the end of `path` replaced by `dref`.
def replace(buf, path, dref):
    out = b''
    for kind, body in children(buf):
        if kind == path[0] and len(path) == 1:
            out += dref
        else:
            out += box(kind, replace(body, path[1:], dref) if kind == path[0] else body)
    return out

def dref_of(entry):
    return box(b'dref', struct.pack('>II', 0, 1) + entry)

# ISO 14496-12: flags 0 (not self-contained) and the location as a URL.
url_entry = box(b'url ', struct.pack('>I', 0) + b'external_media.mp4\0')

# A Macintosh alias record as QuickTime writes it, laid out as libavformat's
# mov demuxer reads it: volume and file name, then tagged fields, among them
# the absolute path (tag 2), ended by tag -1.
def pascal(text, width):
    return bytes([len(text)]) + text.ljust(width, b'\0')
def tagged(tag, value):
    value += b'\0' * (len(value) & 1)
    return struct.pack('>hH', tag, len(value)) + value
volume, name, folder = b'Media', b'external_media.mov', b'clips'
record = (b'\0' * 4 + struct.pack('>HHH', 0, 2, 0) + pascal(volume, 27) + b'\0' * 12 +
          pascal(name, 63) + b'\0' * 16 + struct.pack('>hh', 1, 1) + b'\0' * 16 +
          tagged(0, folder) + tagged(2, volume + b':' + folder + b':' + name) +
          struct.pack('>hH', -1, 0))
alias_entry = box(b'alis', struct.pack('>I', 0) + record)

path = [b'moov', b'trak', b'mdia', b'minf', b'dinf', b'dref']
head = b''.join(box(kind, body) for kind, body in children(data) if kind == b'ftyp')
for name, entry in (('external_url.mp4', url_entry), ('external_alias.mov', alias_entry)):
    moov = [box(kind, body) for kind, body in children(data) if kind == b'moov']
    assert len(moov) == 1, 'one moov'
    edited = replace(moov[0], path, dref_of(entry))
    open(out_dir + '/' + name, 'wb').write(head + edited)
PYTHON
