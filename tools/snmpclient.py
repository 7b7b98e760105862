# SPDX-License-Identifier: BSD-3-Clause
"""Minimal SNMPv2c client over a plain UDP socket (standard library only).

The simulated board uses it where running a Net-SNMP tool per request would
dominate the measurement or the timing: readiness polling, the SET stream of
the durability test and the latency benchmark. It speaks GET, GETNEXT,
GETBULK and SET with community authentication, nothing more.
"""

import os
import socket
import struct
import time
from typing import List, NamedTuple, Optional, Sequence, Tuple

# ---- BER -------------------------------------------------------------------

T_INTEGER = 0x02
T_OCTET_STRING = 0x04
T_NULL = 0x05
T_OID = 0x06
T_SEQUENCE = 0x30
T_IPADDRESS = 0x40
T_COUNTER32 = 0x41
T_GAUGE32 = 0x42
T_TIMETICKS = 0x43
T_OPAQUE = 0x44
T_COUNTER64 = 0x46
T_NO_SUCH_OBJECT = 0x80
T_NO_SUCH_INSTANCE = 0x81
T_END_OF_MIB_VIEW = 0x82

PDU_GET = 0xA0
PDU_GETNEXT = 0xA1
PDU_RESPONSE = 0xA2
PDU_SET = 0xA3
PDU_GETBULK = 0xA5

TYPE_NAMES = {
    T_INTEGER: "INTEGER",
    T_OCTET_STRING: "OCTET STRING",
    T_NULL: "NULL",
    T_OID: "OID",
    T_IPADDRESS: "IpAddress",
    T_COUNTER32: "Counter32",
    T_GAUGE32: "Gauge32",
    T_TIMETICKS: "TimeTicks",
    T_OPAQUE: "Opaque",
    T_COUNTER64: "Counter64",
    T_NO_SUCH_OBJECT: "noSuchObject",
    T_NO_SUCH_INSTANCE: "noSuchInstance",
    T_END_OF_MIB_VIEW: "endOfMibView",
}
TYPE_CODES = {name: code for code, name in TYPE_NAMES.items()}

ERROR_NAMES = [
    "noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr",
    "noAccess", "wrongType", "wrongLength", "wrongEncoding", "wrongValue",
    "noCreation", "inconsistentValue", "resourceUnavailable", "commitFailed",
    "undoFailed", "authorizationError", "notWritable", "inconsistentName",
]


def _len(n: int) -> bytes:
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag: int, body: bytes) -> bytes:
    return bytes([tag]) + _len(len(body)) + body


def enc_int(tag: int, value: int) -> bytes:
    size = max(1, (value.bit_length() + 8) // 8)
    return tlv(tag, value.to_bytes(size, "big", signed=True))


def enc_uint(tag: int, value: int) -> bytes:
    size = max(1, (value.bit_length() + 8) // 8)  # room for a leading 0 bit
    return tlv(tag, value.to_bytes(size, "big"))


def oid_parts(oid: str) -> List[int]:
    return [int(p) for p in oid.strip(".").split(".") if p != ""]


def enc_oid(oid: str) -> bytes:
    parts = oid_parts(oid)
    if len(parts) < 2:
        raise ValueError("OID needs at least two arcs: %r" % oid)
    out = bytearray([parts[0] * 40 + parts[1]])
    for arc in parts[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.append(0x80 | (arc & 0x7F))
            arc >>= 7
        out.extend(reversed(chunk))
    return tlv(T_OID, bytes(out))


def enc_value(type_name: str, value) -> bytes:
    code = TYPE_CODES[type_name]
    if code == T_INTEGER:
        return enc_int(code, int(value))
    if code in (T_COUNTER32, T_GAUGE32, T_TIMETICKS, T_COUNTER64):
        return enc_uint(code, int(value))
    if code in (T_OCTET_STRING, T_OPAQUE):
        if isinstance(value, str):
            value = value.encode()
        return tlv(code, bytes(value))
    if code == T_IPADDRESS:
        return tlv(code, socket.inet_aton(value))
    if code == T_OID:
        return enc_oid(value)
    if code in (T_NULL, T_NO_SUCH_OBJECT, T_NO_SUCH_INSTANCE, T_END_OF_MIB_VIEW):
        return tlv(code, b"")
    raise ValueError(type_name)


def _read_tlv(data: bytes, pos: int) -> Tuple[int, bytes, int]:
    tag = data[pos]
    first = data[pos + 1]
    pos += 2
    if first & 0x80:
        nbytes = first & 0x7F
        length = int.from_bytes(data[pos:pos + nbytes], "big")
        pos += nbytes
    else:
        length = first
    body = data[pos:pos + length]
    if len(body) != length:
        raise ValueError("truncated BER")
    return tag, body, pos + length


def dec_oid(body: bytes) -> str:
    parts = [body[0] // 40, body[0] % 40] if body[0] < 80 else [2, body[0] - 80]
    arc = 0
    for b in body[1:]:
        arc = (arc << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(arc)
            arc = 0
    return ".".join(str(p) for p in parts)


def dec_value(tag: int, body: bytes):
    if tag == T_INTEGER:
        return int.from_bytes(body, "big", signed=True)
    if tag in (T_COUNTER32, T_GAUGE32, T_TIMETICKS, T_COUNTER64):
        return int.from_bytes(body, "big")
    if tag in (T_OCTET_STRING, T_OPAQUE):
        return bytes(body)
    if tag == T_IPADDRESS:
        return socket.inet_ntoa(body)
    if tag == T_OID:
        return dec_oid(body)
    return None


class VarBind(NamedTuple):
    oid: str    # numeric, without a leading dot
    type: str   # a TYPE_NAMES value
    value: object


class Response(NamedTuple):
    error_status: int
    error_index: int
    varbinds: List[VarBind]

    @property
    def error(self) -> str:
        if 0 <= self.error_status < len(ERROR_NAMES):
            return ERROR_NAMES[self.error_status]
        return "error%d" % self.error_status


class SnmpTimeout(Exception):
    pass


def encode_request(community: str, pdu_type: int, request_id: int,
                   varbinds: Sequence[Tuple[str, str, object]],
                   non_repeaters: int = 0, max_repetitions: int = 0) -> bytes:
    vbs = b"".join(tlv(T_SEQUENCE, enc_oid(oid) + enc_value(t, v)) for oid, t, v in varbinds)
    if pdu_type == PDU_GETBULK:
        second, third = non_repeaters, max_repetitions
    else:
        second, third = 0, 0
    pdu = tlv(pdu_type, enc_int(T_INTEGER, request_id) + enc_int(T_INTEGER, second)
              + enc_int(T_INTEGER, third) + tlv(T_SEQUENCE, vbs))
    return tlv(T_SEQUENCE, enc_int(T_INTEGER, 1) + tlv(T_OCTET_STRING, community.encode()) + pdu)


def decode_response(data: bytes) -> Tuple[int, Response]:
    _, msg, _ = _read_tlv(data, 0)
    _, _version, pos = _read_tlv(msg, 0)
    _, _community, pos = _read_tlv(msg, pos)
    tag, pdu, _ = _read_tlv(msg, pos)
    if tag != PDU_RESPONSE:
        raise ValueError("not a response PDU: 0x%02x" % tag)
    _, rid, pos = _read_tlv(pdu, 0)
    _, status, pos = _read_tlv(pdu, pos)
    _, index, pos = _read_tlv(pdu, pos)
    _, vbl, _ = _read_tlv(pdu, pos)
    varbinds = []
    pos = 0
    while pos < len(vbl):
        _, vb, pos = _read_tlv(vbl, pos)
        _, oid_body, vpos = _read_tlv(vb, 0)
        vtag, vbody, _ = _read_tlv(vb, vpos)
        varbinds.append(VarBind(dec_oid(oid_body), TYPE_NAMES.get(vtag, "0x%02x" % vtag),
                                dec_value(vtag, vbody)))
    return (int.from_bytes(rid, "big", signed=True),
            Response(int.from_bytes(status, "big"), int.from_bytes(index, "big"), varbinds))


class Client:
    """SNMPv2c requests over `sock` (a UDP socket) to `addr`."""

    def __init__(self, sock: socket.socket, addr=("127.0.0.1", 161),
                 community: str = "public", timeout: float = 1.0, retries: int = 0):
        self.sock = sock
        self.addr = addr
        self.community = community
        self.timeout = timeout
        self.retries = retries
        self._rid = int.from_bytes(os.urandom(3), "big")

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def request(self, pdu_type: int, varbinds, community: Optional[str] = None,
                non_repeaters: int = 0, max_repetitions: int = 0,
                timeout: Optional[float] = None) -> Response:
        self._rid = (self._rid + 1) & 0x7FFFFFFF
        rid = self._rid
        packet = encode_request(community or self.community, pdu_type, rid, varbinds,
                                non_repeaters, max_repetitions)
        wait = self.timeout if timeout is None else timeout
        for _ in range(self.retries + 1):
            self.sock.sendto(packet, self.addr)
            deadline = time.monotonic() + wait
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.sock.settimeout(left)
                try:
                    data = self.sock.recv(65535)
                except socket.timeout:
                    break
                try:
                    got, resp = decode_response(data)
                except (ValueError, IndexError):
                    continue
                if got == rid:  # late answers to earlier requests are dropped
                    return resp
        raise SnmpTimeout("no answer from %s:%d" % self.addr)

    def get(self, *oids: str, **kw) -> Response:
        return self.request(PDU_GET, [(o, "NULL", None) for o in oids], **kw)

    def getnext(self, *oids: str, **kw) -> Response:
        return self.request(PDU_GETNEXT, [(o, "NULL", None) for o in oids], **kw)

    def getbulk(self, *oids: str, non_repeaters: int = 0, max_repetitions: int = 10,
                **kw) -> Response:
        return self.request(PDU_GETBULK, [(o, "NULL", None) for o in oids],
                            non_repeaters=non_repeaters, max_repetitions=max_repetitions, **kw)

    def set(self, *varbinds: Tuple[str, str, object], **kw) -> Response:
        return self.request(PDU_SET, list(varbinds), **kw)

    def bulkwalk(self, root: str, max_repetitions: int = 10, **kw) -> List[VarBind]:
        """Every varbind under `root`, in order, fetched with GETBULK."""
        prefix = oid_parts(root)
        out: List[VarBind] = []
        cursor = root
        while True:
            resp = self.getbulk(cursor, max_repetitions=max_repetitions, **kw)
            if resp.error_status:
                raise RuntimeError("bulkwalk of %s: %s" % (root, resp.error))
            for vb in resp.varbinds:
                if vb.type == "endOfMibView" or oid_parts(vb.oid)[:len(prefix)] != prefix:
                    return out
                out.append(vb)
            if not resp.varbinds:
                return out
            cursor = resp.varbinds[-1].oid


def date_and_time(octets: bytes):
    """Decodes an 8- or 11-octet DateAndTime into a tuple
    (year, month, day, hour, minute, second, decisecond, utc_offset_minutes)."""
    if len(octets) not in (8, 11):
        raise ValueError("DateAndTime is 8 or 11 octets, got %d" % len(octets))
    year, month, day, hour, minute, second, decis = struct.unpack(">HBBBBBB", octets[:8])
    offset = 0
    if len(octets) == 11:
        direction = chr(octets[8])
        if direction not in "+-":
            raise ValueError("DateAndTime direction is %r" % direction)
        offset = (octets[9] * 60 + octets[10]) * (1 if direction == "+" else -1)
    return year, month, day, hour, minute, second, decis, offset
