#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Seeds are small, valid examples of each input (SNMP requests, relay datagrams,
a UPS's replies as the simulated UPS sends them, configuration files, a message
catalog) plus a few broken ones. Run it again after changing a seed below; the
files named regression-* are inputs that once found a fault and are kept as
they are. Usage: tests/fuzz/make_seeds.py [build folder holding `messages`]
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# ---- BER and SNMP ------------------------------------------------------------


def tlv(tag, contents):
    n = len(contents)
    if n < 0x80:
        head = [tag, n]
    elif n < 0x100:
        head = [tag, 0x81, n]
    else:
        head = [tag, 0x82, n >> 8, n & 0xFF]
    return bytes(head) + bytes(contents)


def tlv_long(tag, contents):
    """A header with the 0x82 long length form whatever the length."""
    return bytes([tag, 0x82, len(contents) >> 8, len(contents) & 0xFF]) + bytes(contents)


def integer(value):
    raw = value.to_bytes(4, "big", signed=True)
    while len(raw) > 1 and ((raw[0] == 0 and raw[1] < 0x80) or (raw[0] == 0xFF and raw[1] >= 0x80)):
        raw = raw[1:]
    return tlv(0x02, raw)


def octets(text):
    return tlv(0x04, text.encode() if isinstance(text, str) else text)


def oid(dotted):
    arcs = [int(a) for a in dotted.split(".")]
    body = [40 * arcs[0] + arcs[1]]
    for arc in arcs[2:]:
        groups = [arc & 0x7F]
        arc >>= 7
        while arc:
            groups.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += groups
    return tlv(0x06, body)


NULL = bytes([0x05, 0x00])


def binding(name, value=NULL):
    return tlv(0x30, oid(name) + value)


def message(community, pdu, bindings, request_id=1, version=0, status=0, index=0):
    pdu_bytes = tlv(pdu, integer(request_id) + integer(status) + integer(index) + tlv(0x30, b"".join(bindings)))
    return tlv(0x30, integer(version) + octets(community) + pdu_bytes)


GET, GETNEXT, SET, GETBULK = 0xA0, 0xA1, 0xA3, 0xA5
UPS = "1.3.6.1.2.1.33.1"
VENDOR = "1.3.6.1.4.1.534.1"

SNMP_SEEDS = {
    "get-ident": message("gavrel", GET, [binding(UPS + ".1.1.0"), binding(UPS + ".1.2.0"), binding(UPS + ".1.5.0")]),
    "get-battery-status": message("gavrel", GET, [binding(UPS + ".2.1.0")], 7),
    "getnext-battery": message("gavrel", GETNEXT, [binding(UPS + ".2")], 8),
    "getnext-input-table": message("gavrel", GETNEXT, [binding(UPS + ".3.3.1.3")], 9),
    "getnext-alarms": message("gavrel", GETNEXT, [binding(UPS + ".6.2")], 10),
    "getnext-vendor": message("gavrel", GETNEXT, [binding(VENDOR)], 11),
    "get-trap-control": message("gavrel", GET, [binding(VENDOR + ".11.1.0"), binding(VENDOR + ".11.2.0")], 12),
    "set-name": message("sotwick", SET, [binding(UPS + ".1.5.0", octets("Rack 4"))], 13),
    "set-attached": message("sotwick", SET, [binding(UPS + ".1.6.0", octets("servers"))], 14),
    "set-trap-level": message("sotwick", SET, [binding(VENDOR + ".11.1.0", integer(3))], 15),
    "set-test-id": message("sotwick", SET, [binding(UPS + ".7.1.0", oid(UPS + ".7.7.3"))], 16),
    "set-shutdown-delay": message("sotwick", SET, [binding(UPS + ".8.2.0", integer(120))], 17),
    "set-startup-delay": message("sotwick", SET, [binding(UPS + ".8.3.0", integer(-1))], 18),
    "set-config-voltage": message("sotwick", SET, [binding(UPS + ".9.3.0", integer(230))], 19),
    "set-read-only": message("sotwick", SET, [binding(UPS + ".2.1.0", integer(2))], 20),
    "set-with-get-community": message("gavrel", SET, [binding(UPS + ".1.5.0", octets("x"))], 21),
    "wrong-community": message("nobody", GET, [binding(UPS + ".1.1.0")], 22),
    "version-2c": message("gavrel", GET, [binding(UPS + ".1.1.0")], 23, version=1),
    "unknown-object": message("gavrel", GET, [binding("1.3.6.1.2.1.1.1.0")], 24),
    "getnext-from-1": message("gavrel", GETNEXT, [tlv(0x06, bytes([0x01]))], 25),
    "getnext-from-2.0": message("gavrel", GETNEXT, [tlv(0x06, bytes([0x50]))], 26),
    "v2c-get-absent-row": message("gavrel", GET, [binding(UPS + ".3.3.1.3.9"), binding(UPS + ".3.3.9.3.0")], 27,
                                  version=1),
    "v2c-getbulk": message("gavrel", GETBULK, [binding(UPS + ".1.1.0"), binding(UPS + ".3.3"), binding(VENDOR + ".7")],
                           28, version=1, status=1, index=20),
    "v2c-getbulk-huge": message("gavrel", GETBULK, [binding("1.3.6.1")], 29, version=1, status=-3, index=0x7FFFFFFF),
    "v2c-set-read-only": message("sotwick", SET, [binding(UPS + ".2.1.0", integer(2))], 30, version=1),
    "v2c-set-wrong-type": message("sotwick", SET, [binding(UPS + ".1.5.0", tlv(0x40, bytes(4)))], 31, version=1),
    "long-form-lengths": tlv_long(0x30, integer(0) + octets("gavrel") + tlv_long(
        GET, integer(5) + integer(0) + integer(0) + tlv_long(0x30, tlv_long(0x30, oid(UPS + ".1.1.0") + NULL)))),
}
SNMP_SEEDS["truncated"] = SNMP_SEEDS["get-ident"][:-7]
SNMP_SEEDS["binding-too-long"] = SNMP_SEEDS["get-battery-status"][:-14] + bytes([0x30, 0x7F]) + SNMP_SEEDS[
    "get-battery-status"][-12:]


RESPONSE = 0xA2
# Replies as the load generator of the benchmark meets them.
REPLY_SEEDS = {
    "v1-with-two-bytes-after": message("gavrel", RESPONSE, [binding(UPS + ".2.1.0", integer(2))], 0x40000401) + NULL,
    "v2c-bulk-with-exceptions": message("public", RESPONSE, [
        binding("1.3.6.1.2.1.1.3.0", tlv(0x43, b"\x01\x02")), binding("1.3.6.1.2.1.1.4.0", octets("bench")),
        binding("1.3.6.1.2.1.1.99", bytes([0x80, 0x00])), binding("1.3.6.1.6", bytes([0x82, 0x00]))], 0x40100002, 1),
    "error-reply": message("gavrel", RESPONSE, [binding("1.3.6.1.2.1.1.1.0")], -5),
    "long-form-lengths": tlv_long(0x30, integer(0) + octets("gavrel") + tlv_long(
        RESPONSE, integer(9) + integer(0) + integer(0) + tlv_long(0x30, tlv_long(0x30, oid(UPS + ".1.1.0") + NULL)))),
}
REPLY_SEEDS["cut"] = REPLY_SEEDS["v2c-bulk-with-exceptions"][:-5]


# ---- XCP -----------------------------------------------------------------------


def checksum(data):
    return (0x100 - sum(data) % 256) % 256


def request(command, data=b""):
    frame = bytes([0xAB, len(data) + 1, command]) + bytes(data)
    return frame + bytes([checksum(frame)])


def hexbytes(text):
    return bytes(int(h, 16) for h in text.split())


# One identification and two polls as the simulated UPS answers them:
# (request command, the reply as sent).
SESSION = [
    (0x42, "AB 12 0A 81 00 04 B0 04 60 09 80 25 00 4B A7"),
    (0xCF, "AB 09 05 81 31 CF 3A 91 4E AD"),
    (0x98, "AB 09 06 81 31 98 00 01 00 4B B0"),
    (0xA0, "AB 01 AD 81 02 01 14 02 05 00 1E 00 01 00 0E 53 69 6D 75 6C 20 55 50 53 20 31 35 30 30 51 00 00 00 00 "
           "00 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 F0 F0 F0 F0 F0 00 00 00 F3 F3 00 00 00 61 61 61 E2 00 00 "
           "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 61 61 61 61 61 61 00 00 00 61 00 00 61 61 61 00 00 "
           "00 F0 E0 E1 00 00 00 61 01 01 01 1A C8 03 00 02 04 00 80 81 00 00 00 00 00 00 00 40 00 00 20 40 00 63 "
           "00 00 03 01 00 00 24 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
           "00 00 00 00 00 00 00 00 00 E2 1F"),
    (0x40, "AB 10 1E 81 1C 01 31 32 33 34 35 36 38 3B 3C 3F 40 41 42 88 89 8A 8B 90 91 93 95 97 98 A0 B1 B2 CE CF 65"),
    (0x36, "AB 06 10 81 00 00 0A 00 00 00 00 00 E6 00 F4 01 1E 00 00 00 BB"),
    (0x3C, "AB 0C 1F 81 E6 00 32 00 00 00 00 00 00 00 00 00 00 00 00 00 02 01 B8 00 08 01 00 00 00 00 28 00 00 00 00 A5"),
    (0x34, "AB 04 74 81 15 00 00 00 15 00 00 00 15 00 00 00 A1 01 00 00 C9 01 00 00 CA 01 00 00 90 01 00 00 90 01 00 "
           "00 00 00 00 00 27 E0 07 44 00 00 C8 42 08 07 00 00 FA F3 65 43 FA F3 65 43 FA F3 65 43 CC 5F 67 43 CC 5F "
           "67 43 CC 5F 67 43 61 92 C0 41 50 85 A0 41 50 85 A0 41 50 85 A0 41 DC 05 00 00 55 01 EA 07 00 3A 15 05 E1 "
           "28 C9 41 77 6D 66 43 77 6D 66 43 77 6D 66 43 CF"),
    (0x38, "AB 08 04 81 00 00 00 00 C8"),
    (0x35, "AB 05 14 81 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 BB"),
    (0x33, "AB 03 14 81 50 90 00 00 65 FF FF 00 00 00 00 FF FF 00 00 00 00 FF 00 00 7D"),
    (0x3B, "AB 0B 18 81 00 1F 02 64 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 03 00 00 00 28"),
    (0x32, "AB 02 00 81 D2"),
]


def block_data(reply):
    """The data of a one-block reply."""
    return reply[4:4 + reply[2]]


def driver_script(session):
    """The block-script form: per request, length and data, or 0xFF and a status."""
    script = b""
    for _, text in session:
        reply = hexbytes(text)
        if reply[1] == 9:
            script += bytes([0xFF, reply[4]])
        else:
            data = block_data(reply)[:254]
            script += bytes([len(data)]) + data
    return script


def link_input(flags, piece, operations, stream):
    ops = b"".join(bytes([kind, command]) for kind, command in operations)
    return bytes([flags, piece, len(operations) - 1]) + ops + stream


def main():
    replies = {command: hexbytes(text) for command, text in SESSION}

    # The agent and the BER reader read the same messages.
    for name, data in SNMP_SEEDS.items():
        write("snmp_agent", name, data)
        write("ber_reader", name, data)
    write("ber_reader", "bindings-only", binding(UPS + ".1.5.0", octets("Rack 4")) + binding(
        VENDOR + ".11.1.0", integer(-70000)) + binding(UPS + ".7.1.0", oid(UPS + ".7.7.3")))
    for name, data in REPLY_SEEDS.items():
        write("snmpload_reply", name, data)
    write("ber_reader", "huge-arc", binding("1.3.6.1.4294967295.268435455.0", integer(1)))

    # Relay: a mode byte (bit 0: answer from the model), then the datagram.
    password = request(0xCF, b"Kq4Tz9")
    relay = {
        "identity": request(0x00),
        "ident-block": request(0x31),
        "status-and-meters": request(0x33) + request(0x34),
        "password-then-control": password + request(0x89),
        "password-then-two-controls": password + request(0x89) + request(0x8B),
        "wrong-password": request(0xCF, b"guess!") + request(0x8B),
        "control-without-password": request(0x93, b"\x05\x00"),
        "end-session": request(0xCE),
        "set-parameter": password + request(0x95, b"\x05\x03\x00"),
        "wake-up": request(0xA0),
        "alarms-events-tail": request(0x35) + request(0x32) + b"\xAB\x05",
        "bad-checksum": request(0x31)[:-1] + b"\x00",
    }
    for name, datagram in relay.items():
        write("relay", name + "-forwarded", b"\x00" + datagram)
        write("relay", name + "-emulated", b"\x01" + datagram)

    # Link: flags, piece size, operations (kind, command), then the UPS's bytes.
    request_op, command_op, relay_op, list_op = 0, 1, 2, 3
    write("xcp_link", "ident-reply", link_input(0, 63, [(request_op, 0x31)], replies[0xA0]))
    write("xcp_link", "ident-in-small-pieces", link_input(7, 2, [(request_op, 0x31)], replies[0xA0]))
    write("xcp_link", "command-list", link_input(7, 63, [(list_op, 0)], replies[0x40]))
    write("xcp_link", "relay-meters", link_input(0, 63, [(relay_op, 0x34)], replies[0x34]))
    write("xcp_link", "authorize-then-command", link_input(1, 63, [(command_op, 0x98)],
                                                          replies[0xCF] + replies[0x98]))
    write("xcp_link", "busy-then-ok", link_input(0, 63, [(command_op, 0x95)],
                                                 hexbytes("AB 09 03 81 33 95 00 00 AB") + replies[0x98]))
    noise = hexbytes("AB 0E 03 81 00 01 02 00") + b"\x55\xAB"
    write("xcp_link", "foreign-block-first", link_input(0, 63, [(request_op, 0x33), (request_op, 0x38)],
                                                        noise + replies[0x33] + replies[0x38]))
    split = bytes([0xAB, 0x04, 0x04, 0x01, 1, 2, 3, 4]) + bytes([0xAB, 0x04, 0x03, 0x82, 5, 6, 7])
    split = split[:8] + bytes([checksum(split[:8])]) + split[8:] + bytes([checksum(split[8:])])
    write("xcp_link", "two-blocks", link_input(0, 63, [(relay_op, 0x34)], split))
    write("xcp_link", "silence", link_input(0, 63, [(request_op, 0x33), (list_op, 0)], b""))

    # Driver: replies in the order the driver asks.
    write("xcp_driver", "simulated-session", driver_script(SESSION))
    write("xcp_driver", "silent-after-ident", driver_script(SESSION[:5]))
    write("xcp_driver", "busy-baud-list", bytes([0xFF, 0x33]) + driver_script(SESSION[1:]))
    three_phase = bytearray(block_data(replies[0xA0]))
    three_phase[9] = 3  # line count
    write("xcp_driver", "three-phase", driver_script(SESSION[:3]) + bytes([len(three_phase)]) + three_phase
          + driver_script(SESSION[4:]))

    # Plug and Play identification strings.
    body = b"(\x01$XYZ0A1F\\00000042\\MODEM\\PNPC107\\Simul line"
    total = (sum(body) + ord(")")) & 0xFF
    write("serial_identification", "seven-bit-full", b"\r\nATI\r\n" + body + b"%02X)" % total)
    write("serial_identification", "seven-bit-minimal", b"(\x01$ABC0123)")
    write("serial_identification", "six-bit", b"\x08\x01\x04" + bytes(c - 0x20 for c in b"ABC0123") + b"\x09")

    # Configuration files.
    write("config_file", "complete", b"""[Communications]
CommunicationsPort=/dev/ttyS1
CommunicationsBaudRate=9600
[SNMP]
Enabled=1
AgentPort=161
ManagerPort=162
TrapHost=127.0.0.1
GetCommunity=gavrel
SetCommunity=sotwick
TrapCommnity=gavrel
[Network]
Passwd=Kq4Tz9
SourceAddress=127.0.0.1
[NetXCP]
AgentPort=7010
[UPSIdent]
Name=Rack 4
AttachedDevices=servers
""")
    write("config_file", "odd-spacing", b"[snmp]\r\nenabled = -1\r\nAgentPort=\t99999999999\r\n[UPSIdent]\nName\n=x\n")
    write("config_file", "long-line", b"[UPSIdent]\nName=" + b"y" * 600 + b"\n[Network]\nPasswd=")
    write("config_file", "no-newline-at-end", b"[NetXCP]\nAgentPort=7010")
    write("config_file", "source-lists", b"[SNMP]\nReadManagers= 192.0.2.10 ,198.51.100.0/24\r\n"
          b"SetManagers=10.0.0.0/33\n[NetXCP]\nEnabled=0\nClients=0.0.0.0/0,,\n")

    # HTTP request lines: the routed paths, a query, other methods, bad targets.
    write("http_request", "get-metrics", b"GET /metrics")
    write("http_request", "head-page", b"HEAD /")
    write("http_request", "get-json-query", b"GET /status.json?pretty=1&x=%41")
    write("http_request", "post-page", b"POST /")
    write("http_request", "absolute-form", b"GET http://127.0.0.1:8080/metrics")
    write("http_request", "control-bytes", b"GET /\x00\r\n<script>\"'\\\xff")

    # Message catalog: the compiled one from a build, and cut copies of it.
    build = sys.argv[1] if len(sys.argv) > 1 else None
    if build and os.path.exists(os.path.join(build, "messages")):
        with open(os.path.join(build, "messages"), "rb") as f:
            catalog = f.read()
        write("message_catalog", "compiled", catalog)
        write("message_catalog", "cut-in-entries", catalog[: len(catalog) // 2])
        write("message_catalog", "cut-in-blocks", catalog[:10])
    write("message_catalog", "one-block-one-entry", (1).to_bytes(4, "little") + (0xC0020025).to_bytes(4, "little")
          + (0xC0020025).to_bytes(4, "little") + (16).to_bytes(4, "little") + (8).to_bytes(2, "little")
          + (0).to_bytes(2, "little") + b"Gone")
    write_v3_seeds()
    write_service_seeds()
    write_nut_seeds()
    write_event_log_seeds()
    write("message_catalog", "offset-past-end", (1).to_bytes(4, "little") + (0).to_bytes(4, "little")
          + (0xFFFFFFFF).to_bytes(4, "little") + (0xFFFFFFF0).to_bytes(4, "little"))


# ---- SNMPv3 ------------------------------------------------------------------
# The fuzz target's engine: 80 00 02 16 05 01 .. 08, boots 0; users "ops"
# (authPriv, SHA, auth "maplesyrup", priv "pancakes and bacon") and "mon"
# (authNoPriv, SHA256, "maplesyrup").
V3_ENGINE = bytes.fromhex("80000216050102030405060708")


def scoped_pdu(pdu, context_engine=V3_ENGINE, context=b""):
    return tlv(0x30, octets(context_engine) + octets(context) + pdu)


def v3_message(flags, scoped, engine=b"", user=b"", model=3, msg_id=42):
    header = tlv(0x30, integer(msg_id) + integer(1500) + octets(bytes([flags])) + integer(model))
    usm = tlv(0x30, octets(engine) + integer(0) + integer(0) + octets(user) + octets(b"") + octets(b""))
    return tlv(0x30, integer(3) + header + octets(usm) + scoped)


def write_v3_seeds():
    get = tlv(GET, integer(7) + integer(0) + integer(0) + tlv(0x30, binding(UPS + ".2.1.0")))
    bulk = tlv(0xA5, integer(8) + integer(0) + integer(10) + tlv(0x30, binding(UPS + ".2")))
    empty_get = tlv(GET, integer(9) + integer(0) + integer(0) + tlv(0x30, b""))
    # Mode byte: even = a whole datagram; odd = a scoped PDU the target wraps,
    # encrypted for "ops" (bit 1 clear) or authenticated only for "mon".
    write("snmpv3_message", "discovery", b"\x00" + v3_message(0x04, scoped_pdu(empty_get, b"")))
    write("snmpv3_message", "unknown-security-model", b"\x00" + v3_message(0x04, scoped_pdu(empty_get, b""), model=2))
    write("snmpv3_message", "priv-without-auth", b"\x00" + v3_message(0x06, octets(b"\x00" * 16), V3_ENGINE, b"ops"))
    write("snmpv3_message", "plain-known-user", b"\x00" + v3_message(0x04, scoped_pdu(get), V3_ENGINE, b"mon"))
    # Requests of snmpget -v3 -e 0x80000216050102030405060708 for upsBatteryStatus.0.
    write("snmpv3_message", "snmpget-authpriv-sha-aes", b"\x00" + bytes.fromhex(
        "3081810201033011020446f26fde020300ffe304010702010304343032040d80000216050102030405060708020100020100"
        "04036f7073040c01d147cee17cf2b5029ef93c04080d504cccd4457301043339e5d577e229e852c1365831823c439dbedd6f"
        "2def5491bad5c9853f9d669909bd782fddf838b2c16e4443c7172e9a65729e0f"))
    write("snmpv3_message", "snmpget-authnopriv-sha256", b"\x00" + bytes.fromhex(
        "3081830201033011020405ddb0bd020300ffe304010502010304383036040d80000216050102030405060708020100020100"
        "04036d6f6e0418264342a5786d25a0f4ef5c3bb30e750637e7445cf38ed25104003031040d800002160501020304050607"
        "080400a01e020427070c8a0201000201003010300e060a2b0601020121010201000500"))
    write("snmpv3_message", "wrapped-encrypted-get", b"\x01" + scoped_pdu(get))
    write("snmpv3_message", "wrapped-authenticated-getbulk", b"\x03" + scoped_pdu(bulk, b"", b"ctx"))
    write("snmpv3_message", "wrapped-encrypted-cut", b"\x01" + scoped_pdu(get)[:-5])

    # Mode byte: even = an engine state file, odd = one SNMPv3 user line.
    write("usm_config", "engine-state", b"\x00# SNMPv3 engine state\nEngineID=80000216050102030405060708\nEngineBoots=12\n")
    write("usm_config", "engine-state-crlf-no-end", b"\x00EngineBoots=2147483646\r\nEngineID=8000021605aabbccdd")
    # "maplesyrup" under SHA and SHA256 in the stored form of pvx-passwd -3.
    sha = b"pvx1:65d84f8b557fa8098c9701ef29969375b57d28fc3ed57b538210d2de56a06516cb27fc2a638e49ab"
    sha256 = (b"pvx1:3ddc188f062dac5e85c305e129929672bd7979a8348e7958861380d308f13113cb2cf427658d4fad"
              b"b13fb7548ba239c1184adb4893ed1ca965e6e772ef0251b1")
    write("usm_config", "user-authpriv", b"\x01ops,authPriv,SHA," + sha + b",AES," + sha + b",write")
    write("usm_config", "user-authnopriv", b"\x01 mon , authNoPriv , SHA256 , " + sha256 + b" , - , - , read\r")
    write("usm_config", "user-short", b"\x01ops,authPriv,SHA")
    # The compact form of pvx-passwd -3: Kul of "maplesyrup" for engine 00..02, Ku under SHA256.
    kul = b"pvx2:5dc47588c87a0dc40834bd357c76831d4b5b02dc827bfbe5db"
    ku256 = b"pvx2:5c157cbf7b029f45d4b1eafd0c4a45b7263c84ff7105f33c783b1abc2264e4dd50"
    write("usm_config", "user-authpriv-localized", b"\x01ops,authPriv,SHA," + kul + b",AES," + kul + b",write")
    write("usm_config", "user-authpriv-sha256-compact", b"\x01ops,authPriv,SHA256," + ku256 + b",AES," + ku256 + b",write")



# ---- RFC 9271 ------------------------------------------------------------------


def write_nut_seeds():
    """A mode byte (bit 0: no UPS), then the lines a client sends."""
    sessions = {
        "upsc-list": b"STARTTLS\nLIST VAR ups\nLOGOUT\n",
        "upsmon-primary": b"STARTTLS\nUSERNAME admin\nPASSWORD pw\nLOGIN ups\nPRIMARY ups\n"
                          b"GET VAR ups ups.status\nFSD ups\nGET NUMLOGINS ups\nLOGOUT\n",
        "upsmon-wrong-password": b"USERNAME mon\nPASSWORD nope\nLOGIN ups\nMASTER ups\n",
        "upscmd": b"USERNAME admin\nPASSWORD pw\nLIST CMD ups\nGET CMDDESC ups shutdown.stop\n"
                  b"INSTCMD ups test.battery.start.quick\nINSTCMD ups load.off.delay 30\n",
        "upsrw": b"USERNAME admin\nPASSWORD pw\nLIST RW ups\nGET TYPE ups ups.id\nLIST RANGE ups ups.delay.start\n"
                 b"SET VAR ups ups.id \"Rack \\\"7\\\"\"\nGET VAR ups ups.id\n",
        "odd-lines": b"\r\n   \nGET VAR ups \"open\nget var UPS ups.status\r\nSET VAR ups ups.id \"a\"b\n"
                     b"LIST ENUM ups ups.id\nLIST CLIENT ups\nHELP\nVER\nNETVER\n\x01\xff\n",
    }
    for name, lines in sessions.items():
        write("nut_session", name, b"\x00" + lines)
    write("nut_session", "no-ups", b"\x01GET VAR ups ups.status\nLIST VAR ups\nINSTCMD ups shutdown.return\n")


# ---- The HTTP server, SNMPv3 through the agent, stored passwords, DummyUPS.ini --


def http_script(sources, steps):
    """Client count and sources, then steps: ("send", client, bytes),
    ("close", client), ("wait", 16 ms units), ("run",)."""
    out = bytes([len(sources) - 1]) + bytes(sources)
    for step in steps:
        kind, *args = step
        if kind == "send":
            out += bytes([args[0] << 2 | 0, len(args[1])]) + args[1]
        elif kind == "close":
            out += bytes([args[0] << 2 | 1])
        elif kind == "wait":
            out += bytes([2, args[0]])
        else:
            out += bytes([3])
    return out


def v3_agent_input(choice, pdu, msg_id=42, max_size=1500, context=b""):
    """choice: bit 0 the user (ops, mon), bits 1-2 the level (0 none, 1 auth,
    3 auth and priv), bit 3 a copy follows, bit 4 another context engine,
    bit 5 RFC 1628 names."""
    return (bytes([choice]) + msg_id.to_bytes(2, "little") + (max_size - 484).to_bytes(2, "little")
            + bytes([len(context)]) + context + pdu)


def stored_password(plain):
    key = [0x5C, 0xA3, 0x17, 0xE9, 0x42, 0x8D, 0x36, 0xF1]
    return b"pvx1:" + bytes(b ^ (key[i % 8] ^ (i * 29 & 0xFF)) for i, b in enumerate(plain)).hex().encode()


def write_service_seeds():
    get = b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"
    write("http_server", "polite-get", http_script([0], [("send", 0, get), ("run",), ("run",)]))
    write("http_server", "head-and-post", http_script([0, 1], [
        ("send", 0, b"HEAD / HTTP/1.1\r\n\r\n"), ("send", 1, b"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"),
        ("run",), ("run",)]))
    write("http_server", "one-source-over-its-share", http_script([1, 1, 1, 2], [
        ("send", 0, b"G"), ("send", 1, b"G"), ("send", 2, b"G"), ("send", 3, get), ("run",), ("run",)]))
    write("http_server", "trickle-past-the-deadline", http_script([0, 1], [
        ("send", 0, b"GE"), ("wait", 100), ("send", 0, b"T / HTTP/1.1\r\n"), ("wait", 100), ("run",),
        ("send", 1, get), ("run",)]))
    write("http_server", "half-closed-mid-request", http_script([2], [
        ("send", 0, b"GET /status.json HTTP/1.1\r\nHo"), ("close", 0), ("run",), ("run",)]))
    write("http_server", "full-then-replaced", http_script([0, 1, 2, 0, 1, 2], [
        ("send", 0, b"G"), ("send", 1, b"G"), ("send", 2, b"G"), ("send", 3, b"G"), ("run",), ("wait", 40),
        ("send", 4, get), ("run",), ("send", 5, b"GET /nothing HTTP/1.0\r\n\r\n"), ("run",)]))
    write("http_server", "malformed", http_script([0], [("send", 0, b"\x01\x02 / HTTP/1.1\r\n\r\n"), ("run",)]))

    battery = binding(UPS + ".2.1.0")
    ops_priv, mon_auth = 0x06, 0x03
    write("snmpv3_agent", "authpriv-get", v3_agent_input(ops_priv, tlv(GET, integer(7) + integer(0) + integer(0)
          + tlv(0x30, battery))))
    set_name = tlv(SET, integer(8) + integer(0) + integer(0) + tlv(0x30, binding(UPS + ".1.5.0", octets("Rack 9"))))
    write("snmpv3_agent", "set-and-its-copy", v3_agent_input(ops_priv | 0x08, set_name))
    write("snmpv3_agent", "read-users-set", v3_agent_input(mon_auth, set_name))
    write("snmpv3_agent", "below-the-users-level", v3_agent_input(0x02, tlv(GET, integer(9) + integer(0) + integer(0)
          + tlv(0x30, battery))))
    many = b"".join(binding(UPS + ".1.%d.0" % (1 + i % 6)) for i in range(24))
    write("snmpv3_agent", "too-big-for-msgmaxsize", v3_agent_input(ops_priv, tlv(GET, integer(10) + integer(0)
          + integer(0) + tlv(0x30, many)), max_size=484))
    write("snmpv3_agent", "bulk-standard-names", v3_agent_input(mon_auth | 0x20, tlv(0xA5, integer(11) + integer(0)
          + integer(20) + tlv(0x30, binding(UPS + ".3")))))
    write("snmpv3_agent", "other-context", v3_agent_input(ops_priv, tlv(GET, integer(12) + integer(0) + integer(0)
          + tlv(0x30, battery)), context=b"ctx"))
    write("snmpv3_agent", "other-context-engine", v3_agent_input(ops_priv | 0x10, tlv(GETNEXT, integer(13)
          + integer(0) + integer(0) + tlv(0x30, battery))))
    write("snmpv3_agent", "trap-level-set-copied", v3_agent_input(ops_priv | 0x08, tlv(SET, integer(14) + integer(0)
          + integer(0) + tlv(0x30, binding("1.3.6.1.4.1.534.1.11.1.0", integer(3))))))

    write("stored_password", "default-stored", stored_password(b"Kq4Tz9"))
    write("stored_password", "long-stored", stored_password(b"correct horse battery staple"))
    write("stored_password", "plain", b"Kq4Tz9")
    write("stored_password", "prefix-only", b"pvx1:")
    write("stored_password", "odd-digits", b"pvx1:abc")
    write("stored_password", "upper-case-digits", stored_password(b"Secret").upper().replace(b"PVX1:", b"pvx1:"))
    write("stored_password", "control-byte", stored_password(b"a\x01b"))

    with open(os.path.join(HERE, "..", "..", "packaging", "DummyUPS.ini"), "rb") as f:
        sample = f.read()
    write("dummy_ini", "sample", sample)
    write("dummy_ini", "every-pass-wide-steps", b"[Main]\nCyclesPerUpdate=0\n[InputVoltage]\nMin=96\nMax=134\n"
          b"MinAlarm=98\nMaxAlarm=132\nCurrentValue=133\nStep=500\n[ChargeRemaining]\nMin=0\nMax=100\n"
          b"MinAlarm=10\nCurrentValue=5\nStep=-7\n")
    write("dummy_ini", "limits-reversed-and-negative", b"[Main]\nCyclesPerUpdate=0\n[OutputVoltage]\nMin=200\n"
          b"Max=100\nCurrentValue=-5\nStep=-2147483648\n[BackupMinutesRemain]\nMin=0\nMax=4294967295\n"
          b"CurrentValue=4294967295\nStep=1\n")
    write("dummy_ini", "stopped", b"[Main]\nCyclesPerUpdate=-1\n[OutputPercentLoad]\nCurrentValue=150\nMaxAlarm=100\n")


def write_event_log_seeds():
    write("event_log", "three-events", b"1765170000,alarmRaised,-1,On battery\n"
          b"1765170071,alarmCleared,71,On battery\n1765170100,upsLost,-1,Rack 7\n")
    write("event_log", "torn-line", b"1765170000,alarmRaised,-1,On batt")
    write("event_log", "unknown-kind", b"1,coffee,-1,\n")
    write("event_log", "commas-and-negative-time", b"1,upsFound,-1,text, with, commas\n-5,powerRestored,0,\n")


if __name__ == "__main__":
    main()
