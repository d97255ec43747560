# The screenshots of the tray test: a 24-bit BMP (as tray_probe writes it) as
# a PNG file. Usage: bmp2png.py IN.bmp OUT.png
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height = struct.unpack_from('<ii', data, 18)
row = (width * 3 + 3) // 4 * 4
rows = []
for y in range(height - 1, -1, -1):
    line = data[offset + y * row: offset + y * row + width * 3]
    rows.append(b'\0' + bytes(b for i in range(0, len(line), 3) for b in (line[i + 2], line[i + 1], line[i])))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
