# Writes richedit_chinese.rtf, richedit_pictures.rtf and richedit_table.rtf: bodies in the form the Windows rich-text
# control writes (GBK \'hh text under \fcharset134 fonts, \uN escapes, a hyperlink field, nested
# ignorable destinations, pictures as hex, tables). Run from anywhere: python3 make_richedit_fixtures.py
import struct, zlib, os
out = os.path.dirname(os.path.abspath(__file__)) + '/'

def g(s):  # GBK as \'hh
    return ''.join("\\'%02x" % b for b in s.encode('cp936'))

def png(w, h, rgb):
    raw = b''.join(b'\x00' + bytes(rgb) * w for _ in range(h))
    def chunk(t, d):
        c = struct.pack('>I', len(d)) + t + d
        return c + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + \
        chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')

def hexwrap(b, n=78):
    h = b.hex()
    return '\r\n'.join(h[i:i + n] for i in range(0, len(h), n))

def dib(w, h, bgr):  # 24-bit bottom-up
    row = bytes(bgr) * w
    row += b'\x00' * ((4 - len(row) % 4) % 4)
    bits = row * h
    hdr = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    return hdr + bits

def wmf(records):
    body = b''
    maxrec = 0
    for func, params in records:
        size = (6 + len(params)) // 2
        maxrec = max(maxrec, size)
        body += struct.pack('<IH', size, func) + params
    body += struct.pack('<IH', 3, 0)
    total = (18 + len(body)) // 2
    hdr = struct.pack('<HHHIHIH', 1, 9, 0x300, total, 0, maxrec, 0)
    return hdr + body

def emf():
    eof = struct.pack('<IIIII', 14, 20, 0, 16, 20)
    total = 88 + len(eof)
    hdr = struct.pack('<II4i4iIIIIHHIIIii ii', 1, 88, 0, 0, 99, 99, 0, 0, 2540, 2540,
                      0x464D4520, 0x10000, total, 2, 1, 0, 0, 0, 0, 1024, 768, 320, 240)
    return hdr + eof

def stretchdib(d, w, h):
    p = struct.pack('<IH', 0x00CC0020, 0) + struct.pack('<8h', h, w, 0, 0, h, w, 0, 0) + d
    if len(p) % 2: p += b'\x00'
    return (0x0F43, p)

def dibstretchblt(d, w, h):
    p = struct.pack('<I', 0x00CC0020) + struct.pack('<8h', h, w, 0, 0, h, w, 0, 0) + d
    if len(p) % 2: p += b'\x00'
    return (0x0B41, p)

head = ("{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052"
        "{\\fonttbl{\\f0\\fnil\\fcharset134 " + g("宋体") + ";}{\\f1\\fnil\\fcharset0 Calibri;}"
        "{\\f2\\fnil\\fcharset134 " + g("微软雅黑") + ";}}\r\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
        "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n")

# 1. Chinese text in the rich-text control's style
body = (
    "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang2052 " + g("普通文本") + " \\b " + g("粗体") + "\\b0  \\cf1 " + g("红色") +
    "\\cf0  \\f1\\lang1033 2020\\f0\\lang2052 " + g("年") + "\\par\r\n"
    "\\f2\\fs32 " + g("微软雅黑大字") + "\\f0\\fs22\\par\r\n"
    + g("版权所有") + "\\u169? 2020 \\u-10179?\\u-8704?\\par\r\n"
    # GBK trail bytes equal to \ { }: escaped and as control symbols; raw ASCII trail byte
    "\\'81\\'5c\\'81\\'7b\\'81\\'7d|\\'81\\\\\\'81\\{\\'81\\}|\\'e9F\\'88\\'d2\\'86\\'b4\\par\r\n"
    "{{\\field{\\*\\fldinst{HYPERLINK \"https://example.com/a?b=1\" }}{\\fldrslt{\\ul\\cf2\\cf2\\ul " + g("链接") + "}}}}\\f0\\fs22\\par\r\n"
    "{\\*\\unknowndest {\\*\\nested deeper {hidden}} more hidden}" + g("可见") + "{\\*\\mmathPr\\mdispDef1\\mwrapIndent1440 }\\par\r\n"
    "{\\pict{\\*\\picprop{\\sp{\\sn wzName}{\\sv 0a0b}}}\\pngblip\\picw4\\pich3\\picwgoal600\\pichgoal450 \r\n" + hexwrap(png(4, 3, (255, 0, 0))) + "\r\n}\\par\r\n"
    "}\r\n")
open(out + 'richedit_chinese.rtf', 'wb').write((head + body).encode('ascii') + b'\x00')

# 2. pictures: metafile bitmaps, a device-independent bitmap, an EMF, Word's twin pictures
d_green = dib(3, 2, (0, 255, 0))
d_blue = dib(2, 2, (255, 0, 0))
body = (
    "\\pard\\f0\\fs22 A{\\pict{\\*\\picprop}\\wmetafile8\\picw79\\pich53\\picwgoal45\\pichgoal30 \r\n" + hexwrap(wmf([(0x0103, struct.pack('<h', 8)), stretchdib(d_green, 3, 2)])) + "\r\n}"
    "B{\\pict\\wmetafile8\\picw53\\pich53\\picwgoal30\\pichgoal30 " + hexwrap(wmf([dibstretchblt(d_blue, 2, 2)])) + "}"
    "C{\\pict\\dibitmap0\\picw3\\pich2 " + hexwrap(d_green) + "}"
    "D{\\pict\\emfblip\\picw2540\\pich2540\\picwgoal1440\\pichgoal1440 " + hexwrap(emf()) + "}"
    "E{\\*\\shppict{\\pict\\pngblip\\picw2\\pich2 " + hexwrap(png(2, 2, (0, 0, 255))) + "}}{\\nonshppict{\\pict\\wmetafile8\\picw53\\pich53 " + hexwrap(wmf([stretchdib(d_blue, 2, 2)])) + "}}"
    "F{\\pict\\wmetafile8\\picw100\\pich100 " + hexwrap(wmf([(0x0103, struct.pack('<h', 8))])) + "}G\\par\r\n}\r\n")
open(out + 'richedit_pictures.rtf', 'wb').write((head + body).encode('ascii'))
# 3. tables: row and cell borders, a bold cell, a cell of two paragraphs, merged cells and a table
#    inside a cell (with the \nonesttables paragraph for readers without nested tables)
def cells(*rights, flags=None):
    flags = flags or {}
    out = ''
    for i, x in enumerate(rights):
        out += flags.get(i, '') + ''.join('\\clbrdr%s\\brdrw10\\brdrs' % s for s in 'ltrb') + ' \\cellx%d' % x
    return out

row_head = ("\\trowd\\trgaph108\\trleft-108\\trbrdrl\\brdrs\\brdrw10 \\trbrdrt\\brdrs\\brdrw10 \\trbrdrr\\brdrs\\brdrw10 "
            "\\trbrdrb\\brdrs\\brdrw10 \\trpaddl108\\trpaddr108\\trpaddfl3\\trpaddfr3\r\n")
para = "\\pard\\intbl\\widctlpar\\f0\\fs22\\lang2052 "
body = (
    "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang2052 " + g("表前") + "\\par\r\n"
    + row_head + cells(1800, 3600, 5400) + " \r\n"
    + para + "\\b " + g("姓名") + "\\b0\\cell " + g("日期") + "\\cell " + g("备注") + "\\cell\\row\r\n"
    + row_head + cells(1800, 3600, 5400) + " \r\n"
    + para + g("张三") + "\\cell 2024\\cell " + g("第一行") + "\\par\r\n" + g("第二行") + "\\cell\\row\r\n"
    "\\pard\\sa200\\sl276\\slmult1 " + g("表后") + "\\par\r\n"
    + row_head + cells(2000, 4000, 6000, flags={0: '\\clmgf', 1: '\\clmrg', 2: '\\clvmgf'}) + " \r\n"
    + para + g("合并") + "\\cell\\cell " + g("竖") + "\\cell\\row\r\n"
    + row_head + cells(2000, 4000, 6000, flags={2: '\\clvmrg'}) + " \r\n"
    + para + g("左") + "\\cell\\pard\\intbl\\itap2\\widctlpar " + g("内一") + "\\nestcell " + g("内二") + "\\nestcell "
    "\\pard\\intbl\\itap2{\\*\\nesttableprops\\trowd\\trgaph108\\cellx1000\\cellx2000\\nestrow}{\\nonesttables\\par}"
    "\\pard\\intbl\\itap1\\widctlpar \\cell\\cell\\row\r\n"
    "\\pard\\sa200\\sl276\\slmult1\\par\r\n}\r\n")
open(out + 'richedit_table.rtf', 'wb').write((head + body).encode('ascii') + b'\x00')
print("ok")
