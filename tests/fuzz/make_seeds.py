#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into tests/fuzz/seeds/<Target>/ (run from anywhere)."""
import base64
import math
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "seeds"


def bits(*fields):
    """Packs (value, width) pairs most significant bit first; negative values in two's complement."""
    acc, used = 0, 0
    for value, width in fields:
        acc = (acc << width) | (value & ((1 << width) - 1))
        used += width
    pad = (-used) % 8
    return (acc << pad).to_bytes((used + pad) // 8, "big")


def crc24q(data):
    crc = 0
    for byte in data:
        crc ^= byte << 16
        for _ in range(8):
            crc <<= 1
            if crc & 0x1000000:
                crc ^= 0x1864CFB
    return crc & 0xFFFFFF


def rtcm3(payload):
    frame = bytes([0xD3, len(payload) >> 8, len(payload) & 0xFF]) + payload
    return frame + crc24q(frame).to_bytes(3, "big")


def ecef(lat, lon, h):
    a, f = 6378137.0, 1 / 298.257223563
    e2 = f * (2 - f)
    lat, lon = math.radians(lat), math.radians(lon)
    n = a / math.sqrt(1 - e2 * math.sin(lat) ** 2)
    return ((n + h) * math.cos(lat) * math.cos(lon), (n + h) * math.cos(lat) * math.sin(lon),
            (n * (1 - e2) + h) * math.sin(lat))


X, Y, Z = ecef(30.5, 114.25, 40.0)


def station(message):
    fields = [(message, 12), (42, 12), (0, 10), (round(X * 1e4), 38), (0, 2), (round(Y * 1e4), 38), (0, 2),
              (round(Z * 1e4), 38)]
    if message == 1006:
        fields.append((1234, 16))
    return rtcm3(bits(*fields))


def msm(message, mask):
    return rtcm3(bits((message, 12), (7, 12), (123456, 30), (0, 19), (mask >> 32, 32), (mask & 0xFFFFFFFF, 32),
                      (0xABCDEF, 24)))


def observations(message, satellites):
    return rtcm3(bits((message, 12), (3, 12), (0, 30), (1, 1), (satellites, 5)) + bytes(satellites * 8))


def cmr(kind, data):
    packet = bytes([0x02, 0x00, kind, len(data)]) + data
    return packet + bytes([sum(packet[1:]) & 0xFF, 0x03])


def cmr_reference(version):
    return bits((version, 3), (9, 5), (1, 3), (0, 5), (1000, 18), (0, 6), (0x11, 8), (round(X * 1e3), 34),
                (0x3FFF, 14), (round(Y * 1e3), 34), (0x3FFF, 14), (round(Z * 1e3), 34), (0x3FFF, 14), (0x44, 8))


def cmr_observables(version, satellites):
    return bits((version, 3), (9, 5), (0, 3), (satellites, 5), (250000, 18), (0, 6)) + b"\x5a" * 12


def rtca(station_bits, data):
    return bytes([0x99, station_bits & 0xFF, (station_bits >> 8) & 0xFF, station_bits >> 16, 0,
                  len(data) + 6]) + data


def rtca_position():
    return bits((ord("N"), 8), (0, 3), (round(X * 1e3), 35), (round(Y * 1e3), 35), (round(Z * 1e3), 35), (0, 28))


def rtca_carrier(length):
    data = bytearray(b"\x21" * (length - 6))
    data[0], data[1] = ord("N"), 0x20
    return bytes(data)


def nmea(body):
    check = 0
    for c in body.encode():
        check ^= c
    return f"${body}*{check:02X}\r\n".encode()


def gga(quality="4", sats="08", age="1.0", lat="3015.1234,S", lon="11404.5000,E", talker="GP"):
    return nmea(f"{talker}GGA,021505.00,{lat},{lon},{quality},{sats},0.9,45.3,M,-3.2,M,{age},0000")


def stream(body, options=1, cuts=()):
    """A decoder target input: options byte, cut count, cut lengths, then the stream."""
    return bytes([options, len(cuts)]) + bytes(cuts) + body


def write(target, name, data):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def qqwry():
    """A small IP location file: two ranges, places written plainly, by redirect and by mode 2."""
    body = bytearray(8)
    records = []
    def place(text):
        return text.encode("gbk") + b"\0"
    # Record 1: end address, country, area.
    r1 = len(body)
    body += struct.pack("<I", 0x0A0000FF) + place("本地") + place("局域网")
    # Record 2: end address, mode 1 redirect to a country/area pair.
    target = len(body)
    body += place("中国") + place("北京")
    r2 = len(body)
    body += struct.pack("<I", 0xFFFFFFFF) + b"\x01" + target.to_bytes(3, "little")
    # Record 3: mode 2 country redirect, area in place.
    r3 = len(body)
    body += struct.pack("<I", 0x7F0000FF) + b"\x02" + target.to_bytes(3, "little") + place("环回")
    records = [(0x0A000000, r1), (0x7F000000, r3), (0x80000000, r2)]
    first = len(body)
    for start, offset in records:
        body += struct.pack("<I", start) + offset.to_bytes(3, "little")
    last = len(body) - 7
    struct.pack_into("<II", body, 0, first, last)
    return bytes(body)


def archive_text(text):
    data = text.encode()
    return (bytes([len(data)]) if len(data) < 0xFF else b"\xff" + struct.pack("<H", len(data))) + data


def map_record(label, kind, e=0.0, f=0.0, count=0):
    return (archive_text(label) + struct.pack("<i", kind) + struct.pack("<4i", 11, 22, 33, 44)
            + struct.pack("<3d", e, f, 2.5) + struct.pack("<ii", 0, count))


def vector_map():
    out = archive_text("VoranSurvey Map Ver:2.0")
    out += map_record("field", 1) + struct.pack("<4d", 116.1, 39.1, 116.2, 39.2)
    out += map_record("mast", 2) + struct.pack("<2di", 116.15, 39.15, 7)
    out += map_record("road", 7, 116.12, 39.12, 3) + struct.pack("<6d", 116.1, 39.1, 116.2, 39.1, 116.2, 39.2)
    out += map_record("lake", 8, 0.0, 0.0, 3) + struct.pack("<6d", 116.3, 39.3, 116.4, 39.3, 116.4, 39.4)
    out += map_record("label", 10, 116.5, 39.5) + map_record("unknown", 5) + map_record("", -1)
    return out


def connection(pieces, options=1):
    """A Connection input: options, cut lengths (high bit: second connection), then the bytes."""
    cuts = bytes(((len(p) - 1) & 0x7F) | (0x80 if second else 0) for second, p in pieces)
    return bytes([options, len(cuts)]) + cuts + b"".join(p for _, p in pieces)


def main():
    rtcm_stream = (station(1005) + observations(1004, 3) + msm(1077, 0x8000000000000001) + station(1006)
                   + rtcm3(bits((1021, 12), (0, 4))) + rtcm3(bits((1023, 12), (0, 4))) + bytes(101))
    write("Rtcm3", "stations", stream(rtcm_stream))
    write("Rtcm3", "cut", stream(rtcm_stream, 3, (7, 30, 200)))
    write("Rtcm3", "garbage", stream(b"\xd3\x03\xff" + bytes(40) + station(1005)[:-1] + station(1005), 1, (5,)))

    cmr_stream = cmr(1, cmr_reference(0)) + cmr(0, cmr_observables(0, 5)) + cmr(1, cmr_reference(5)) + bytes(12)
    write("Cmr", "reference", stream(cmr_stream))
    write("Cmr", "cut", stream(cmr_stream, 3, (3, 17)))
    write("Cmr", "plus", stream(cmr(0x5E, b"\x01\x02\x03" * 10) + cmr(0, cmr_observables(0, 9)), 1))

    rtca_stream = (rtca(0x123456, rtca_position()) + rtca(0x123456, rtca_carrier(80)) + rtca(1, b"N")
                   + rtca(2, b"") + bytes(30))
    write("Rtca", "position", stream(rtca_stream))
    write("Rtca", "cut", stream(rtca_stream, 3, (5, 23)))

    write("FormatSearch", "rtcm3", stream(rtcm_stream, 1, (9,)))
    write("FormatSearch", "cmr", stream(cmr_stream))
    write("FormatSearch", "rtca", stream(rtca_stream))
    write("FormatSearch", "noise", stream(bytes(range(256)) * 5))

    write("Gga", "fixed", stream(gga() + gga("5", "12", "0.6", talker="GN"), 7))
    write("Gga", "mixed", stream(b"junk" + gga("1") + nmea("GPGGA,GetCoordinate") + gga("0") + gga("4", "03")
                                 + gga(lat="9999.0,N") + gga().replace(b"*", b"*0"), 7, (20, 90)))

    write("LinkLines", "lines", bytes([2, 40, 200]) + b"xxVORAN,RANGE,30,31,114,115\r\nVORAN,MOUNT,A,B,,C\r\n"
          + b"VORAN," + b"x" * 420 + b"\r\nVOR")
    write("Credentials", "basic", base64.b64encode(b"user:pass"))
    write("Credentials", "receiver", b"NTRIP Vendor.1.2.3.12-ABCDEFGHIJ.x")
    write("Credentials", "signed", b"a.b.c.d.7*QUJDREVGR0hJSktM")

    write("SettingsFile", "settings", b"\xef\xbb\xbf[SYSTEM]\r\nLanguage=English\r\nSET=1,0,1,1,0\r\n"
          b"[SQL]\r\nIP=127.0.0.1\r\nPORT=5432\r\nPassword=\"a b\"\r\n[NET]\r\nIP0=10.0.0.1\r\nPORT0=99999999999\r\n"
          b"IP1=10.0.0.1\r\n[SYSTEMSERVER]\r\nPORT=6060\r\nPORT2=-1\r\n[MONITOR]\r\nPORT=6080\r\n"
          b"\0[USER]\r\nNAME=up\r\nIP=127.0.0.1\r\nPORT=2101\r\n")
    write("LanguageFile", "english", b"[String]\r\n62446=Start\\nService\r\n62455=Fixed|Float|DGPS|Single|None\r\n"
          b"[Dialog]\r\nDLG_128=Settings\r\nDLG_128_1001=OK\r\n[Dialog]\r\nDLG_128_1002=\r\n")
    write("IpLocation", "small", qqwry())
    write("VectorMap", "sample", vector_map())

    base = station(1005) + observations(1004, 2)
    write("Connection", "source-and-rover", connection([
        (False, b"SOURCE pw /RTK1\r\nSource-Agent: NTRIP Vendor.1.2.3.12-ABCDEFGHIJ\r\n\r\n"),
        (True, b"GET /RTK1 HTTP/1.1\r\nUser-Agent: NTRIP Rover\r\nAuthorization: Basic "
               + base64.b64encode(b"rover:pw") + b"\r\n\r\n"),
        (False, base[:100]), (False, base[100:]), (True, gga()),
    ]))
    write("Connection", "sourcetable", connection([
        (False, b"SOURCE pw /RTK1\r\nSource-Agent: X\r\n\r\n" + station(1005)),
        (True, b"GET / HTTP/1.0\r\n\r\n"),
        (True, b"GET /?filter=;;;;;;;;;%3E%3D30&%3C31;%3E114 HTTP/1.0\r\n\r\n"),
    ], options=0x0D))
    write("Connection", "device", connection([
        (False, b"VORAN,LOGIN,user,pw,RTK1\r\n"), (False, b"VORAN,GGA," + gga()),
        (True, b"VORAN,BASE,RTK2,1,2\r\n" + cmr_stream),
    ], options=0x21))

    table = [b"/?filter=;;;;;;;;;%3E%3D30&%3C31;%3E100&%3C%3D130;", b"\x03\x9e\xf2RTK1 NTRIP Vendor/1.0",
             b"\x06\x9e\xf3KavroNet1 KavroNet;x\r\nSTR;fake", b"\x04\x20\x10CMR2 a;b", b"\x01\x80\x80A;B C"]
    write("Sourcetable", "bases", bytes([7, len(table)]) + bytes(len(p) - 1 for p in table) + b"".join(table))

    auth = base64.b64encode(b"admin:secret")
    write("MonitorRequest", "state", b"\x00GET /api/state?name=a%20b+c&x=1 HTTP/1.1\r\nHost: 127.0.0.1:6080\r\n"
          b"Authorization: Basic " + auth + b"\r\n\r\n")
    write("MonitorRequest", "upgrade", b"\x02\x05\x20GET /api/events HTTP/1.1\r\nHost: localhost\r\n"
          b"Origin: http://localhost\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n")
    write("MonitorRequest", "post", b"\x01\x30POST /api/settings/save HTTP/1.1\r\nHost: [::1]:6080\r\n"
          b"Content-Length: 9\r\n\r\n{\"a\":\"b\"}")
    write("MonitorRequest", "pages", b"\x00GET /app/../app/main.js HTTP/1.1\r\nHost: localhost\r\n\r\n")


if __name__ == "__main__":
    main()
