-- Wireshark dissector for the protocol between the set-up tool and its network time server
-- devices (docs/dissector.md). All UDP over IPv4:
--
--   probe port (4800)   discovery probe, plain ASCII "Broadcast message <n>"
--   device port (7800)  device reply, 64 bytes; set-time command, 10 bytes; settings command,
--                       14 bytes; every byte XORed with 0xA7
--
-- Install: copy to Wireshark's Lua plugin folder (`cmake --install` does), or load it for one
-- run with `tshark -X lua_script:setuptool.lua`. Tested with Wireshark 4.0 (Debian 12, Lua 5.2).
--
-- Anything else that arrives on these ports is shown as malformed with an expert note; the
-- dissector reads only bytes the capture holds, so short, long, empty and snap-length-cut
-- frames decode without a Lua error.

local proto = Proto("setuptool", "Time Server Set-up Protocol")

local MASK = 0xA7
local PROBE_PREFIX = "Broadcast message "
local REPLY_SIZE = 64
local SET_TIME_SIZE = 10
local SETTINGS_SIZE = 14
local WORD_SIZE = 6
local SET_TIME_WORD = "sttime"
local SETTINGS_WORD = "stsets"

local enabled = { "Enabled", "Disabled" }

local f = {
    type = ProtoField.string("setuptool.type", "Message",
                             "probe, reply, set-time, settings, malformed, or unknown (cut "
                             .. "before its command word)"),
    length = ProtoField.uint32("setuptool.length", "Datagram length", base.DEC),

    probe_text = ProtoField.string("setuptool.probe.text", "Probe text"),
    probe_number = ProtoField.uint32("setuptool.probe.number", "Probe number", base.DEC,
                                     nil, nil, "0..4 within one scan"),

    name = ProtoField.string("setuptool.name", "Device name",
                             "Latin-1, up to the first NUL of its 13 bytes"),
    unread_after_name = ProtoField.bytes("setuptool.unread.after_name",
                                         "Unread byte after the name"),
    ip_stored = ProtoField.ipv4("setuptool.ip_stored", "Stored address (EEPROM)",
                                "The address the device takes at its next start"),
    unread_after_stored = ProtoField.bytes("setuptool.unread.after_stored",
                                           "Unread byte after the stored address"),
    ip_current = ProtoField.ipv4("setuptool.ip_current", "Current address"),
    uptime = ProtoField.int32("setuptool.uptime", "Uptime (hours)", base.DEC),
    ntp = ProtoField.bool("setuptool.ntp", "NTP service", base.NONE, enabled),
    modbus_tcp = ProtoField.bool("setuptool.modbus_tcp", "Modbus TCP", base.NONE, enabled),
    melsec = ProtoField.bool("setuptool.melsec", "MELSEC", base.NONE, enabled),
    gps = ProtoField.bool("setuptool.gps", "GPS", base.NONE, enabled),
    serial = ProtoField.int32("setuptool.serial", "Serial number", base.DEC),
    unread_tail = ProtoField.bytes("setuptool.unread.tail", "Unread bytes at the end"),

    command = ProtoField.string("setuptool.command", "Command word"),
    time = ProtoField.uint32("setuptool.time", "Time (seconds since 1970-01-01 UTC)", base.DEC,
                             nil, nil, "Low 32 bits of the workstation's clock"),
    time_utc = ProtoField.absolute_time("setuptool.time_utc", "Time (UTC)", base.UTC),
    option1 = ProtoField.uint8("setuptool.option1", "Option byte 1", base.DEC),
    option2 = ProtoField.uint8("setuptool.option2", "Option byte 2", base.DEC),
    option3 = ProtoField.uint8("setuptool.option3", "Option byte 3", base.DEC),
    option4 = ProtoField.uint8("setuptool.option4", "Option byte 4", base.DEC),
    ip_new = ProtoField.ipv4("setuptool.ip_new", "Address to store",
                             "Becomes the device's stored address"),

    data = ProtoField.bytes("setuptool.data", "Undecoded data"),
}
proto.fields = f

local ef = {
    malformed = ProtoExpert.new("setuptool.malformed", "Malformed datagram",
                                expert.group.MALFORMED, expert.severity.ERROR),
    truncated = ProtoExpert.new("setuptool.truncated", "Datagram cut short by the capture",
                                expert.group.UNDECODED, expert.severity.WARN),
    stored_differs = ProtoExpert.new("setuptool.stored_differs",
                                     "Stored address differs from the current address",
                                     expert.group.PROTOCOL, expert.severity.NOTE),
}
proto.experts = ef

proto.prefs.probe_port = Pref.uint("Probe port", 4800,
                                   "UDP port the discovery probes are broadcast to (0: none)")
proto.prefs.device_port = Pref.uint("Device port", 7800,
                                    "UDP port of device replies and commands (0: none)")

-- ---- helpers --------------------------------------------------------------------------------

-- The first `count` bytes of `tvb` XORed with the mask, as a new data source named `label`.
local function descrambled(tvb, count, label)
    if count == 0 then
        return nil
    end
    local bytes = tvb:bytes(0, count)
    for i = 0, count - 1 do
        bytes:set_index(i, bit.bxor(bytes:get_index(i), MASK))
    end
    return bytes:tvb(label)
end

-- The first `count` bytes of `tvb` XORed with the mask, as a Lua string.
local function plain_prefix(tvb, count)
    local raw = tvb:raw(0, count)
    return (raw:gsub(".", function(c) return string.char(bit.bxor(c:byte(), MASK)) end))
end

-- Bytes of unknown meaning for a note or the info column: printable ASCII stays, the rest
-- becomes \xNN.
local function escaped(bytes)
    return (bytes:gsub("[^\32-\126]", function(c) return string.format("\\x%02x", c:byte()) end))
end

-- Text already in UTF-8 (a decoded Latin-1 name) for one line: control characters become \xNN.
local function one_line(text)
    return (text:gsub("%c", function(c) return string.format("\\x%02x", c:byte()) end))
end

-- Dotted address of the four bytes at `offset`, first octet first, never a resolved name.
local function dotted(tvb, offset)
    return string.format("%d.%d.%d.%d", tvb(offset, 1):uint(), tvb(offset + 1, 1):uint(),
                         tvb(offset + 2, 1):uint(), tvb(offset + 3, 1):uint())
end

local function byte_count(n)
    return n == 1 and "1 byte" or string.format("%d bytes", n)
end

local function utc(seconds)
    return os.date("!%Y-%m-%d %H:%M:%S UTC", seconds)
end

local function describe_word(word)
    if word == SET_TIME_WORD then return "set-time" end
    if word == SETTINGS_WORD then return "settings" end
    return nil
end

-- Everything the dissection of one datagram needs: where to add items, and what the capture
-- holds of it. `length` is the datagram's real size, `captured` what the frame holds of it.
local Message = {}
Message.__index = Message

-- `tvb` is nil when the capture holds none of the datagram.
local function new_message(tvb, pinfo, root, length, captured)
    return setmetatable({
        tvb = tvb, pinfo = pinfo, root = root, length = length, captured = captured,
    }, Message)
end

-- True when bytes [offset, offset + size) are in the capture.
function Message:has(offset, size)
    return offset + size <= self.captured
end

-- The first items of every message: what it is and how long.
function Message:set_type(kind)
    self.root:add(f.type, kind):set_generated()
    self.root:add(f.length, self.length):set_generated()
end

function Message:malformed(summary, detail)
    self:set_type("malformed")
    self.root:add_proto_expert_info(ef.malformed, summary .. (detail and (": " .. detail) or ""))
    if self.captured > 0 then
        self.root:add(f.data, self.tvb(0, self.captured))
    end
    self.pinfo.cols.info:set("Malformed: " .. summary)
    self.root:append_text(", malformed")
    self:note_truncation()
end

function Message:note_truncation()
    if self.captured < self.length then
        self.root:add_proto_expert_info(ef.truncated,
            string.format("The capture holds %d of the datagram's %d bytes (snap length); "
                          .. "what lies beyond is not shown", self.captured, self.length))
        self.pinfo.cols.info:append(" [cut short by the capture]")
    end
end

-- ---- probe port -----------------------------------------------------------------------------

function Message:probe()
    if self.length == 0 then
        return self:malformed("empty datagram on the probe port")
    end
    local text = self.captured > 0 and self.tvb:raw(0, self.captured) or ""
    local complete = self.captured == self.length
    local head, digits = text:sub(1, #PROBE_PREFIX), text:sub(#PROBE_PREFIX + 1)
    -- What the capture holds must be the prefix and decimal digits, or the start of that.
    local prefix_ok = head == PROBE_PREFIX or (not complete and head == PROBE_PREFIX:sub(1, #head))
    local digits_ok = digits:match("^%d*$") ~= nil and (#digits > 0 or not complete)
    if not (prefix_ok and digits_ok) then
        return self:malformed(byte_count(self.length) .. " on the probe port",
                              "not \"" .. PROBE_PREFIX .. "\" and a decimal number")
    end
    local number = complete and tonumber(digits) or nil
    if complete and (#digits > 10 or number > 0xFFFFFFFF) then
        return self:malformed("probe number out of range", digits)
    end

    self:set_type("probe")
    if self.captured > 0 then
        self.root:add(f.probe_text, self.tvb(0, self.captured))
    end
    if number then
        self.root:add(f.probe_number, self.tvb(#PROBE_PREFIX, #digits), number)
        self.pinfo.cols.info:set("Probe " .. digits)
        self.root:append_text(", probe " .. digits)
    else
        self.pinfo.cols.info:set("Probe \"" .. escaped(text) .. "...\"")
        self.root:append_text(", probe")
    end
    self:note_truncation()
end

-- ---- device port ----------------------------------------------------------------------------

function Message:reply()
    self:set_type("reply")
    local plain = descrambled(self.tvb, self.captured, "Descrambled reply")
    local tree = self.root
    local name, current, stored, serial

    if self:has(0, 13) then
        name = plain(0, 13):stringz(ENC_ISO_8859_1)
        tree:add(f.name, plain(0, 13), name)
    end
    if self:has(13, 1) then tree:add(f.unread_after_name, plain(13, 1)) end
    if self:has(14, 4) then
        stored = dotted(plain, 14)
        tree:add(f.ip_stored, plain(14, 4))
    end
    if self:has(18, 1) then tree:add(f.unread_after_stored, plain(18, 1)) end
    if self:has(19, 4) then
        current = dotted(plain, 19)
        tree:add(f.ip_current, plain(19, 4))
    end
    if self:has(23, 4) then tree:add_le(f.uptime, plain(23, 4)) end
    if self:has(27, 1) then tree:add(f.ntp, plain(27, 1)) end
    if self:has(28, 1) then tree:add(f.modbus_tcp, plain(28, 1)) end
    if self:has(29, 1) then tree:add(f.melsec, plain(29, 1)) end
    if self:has(30, 1) then tree:add(f.gps, plain(30, 1)) end
    if self:has(31, 4) then
        serial = plain(31, 4):le_int()
        tree:add_le(f.serial, plain(31, 4))
    end
    if self.captured > 35 then tree:add(f.unread_tail, plain(35, self.captured - 35)) end

    local moving = stored and current and stored ~= current
    if moving then
        tree:add_proto_expert_info(ef.stored_differs,
            string.format("Stored address %s differs from the current address %s: the device "
                          .. "takes it at its next start", stored, current))
    end

    local info = "Reply " .. (name and one_line(name) or "(name not captured)")
    if current then info = info .. " @ " .. current end
    if moving then info = info .. " (stored " .. stored .. ")" end
    if serial then info = info .. ", serial " .. serial end
    self.pinfo.cols.info:set(info)
    self.root:append_text(", reply" .. (name and (" from " .. one_line(name)) or ""))
    self:note_truncation()
end

function Message:set_time()
    self:set_type("set-time")
    local plain = descrambled(self.tvb, self.captured, "Descrambled command")
    self.root:add(f.command, plain(0, WORD_SIZE))
    local info = "Set time"
    if self:has(6, 4) then
        local seconds = plain(6, 4):le_uint()
        self.root:add_le(f.time, plain(6, 4))
        self.root:add(f.time_utc, plain(6, 4), NSTime.new(seconds, 0))
        info = string.format("Set time %u (%s)", seconds, utc(seconds))
    end
    self.pinfo.cols.info:set(info)
    self.root:append_text(", set-time command")
    self:note_truncation()
end

function Message:settings()
    self:set_type("settings")
    local plain = descrambled(self.tvb, self.captured, "Descrambled command")
    self.root:add(f.command, plain(0, WORD_SIZE))
    local options = {}
    local option_fields = { f.option1, f.option2, f.option3, f.option4 }
    for i = 1, 4 do
        if self:has(5 + i, 1) then
            self.root:add(option_fields[i], plain(5 + i, 1))
            options[i] = tostring(plain(5 + i, 1):uint())
        end
    end
    local info = "Settings"
    if self:has(10, 4) then
        self.root:add(f.ip_new, plain(10, 4))
        info = info .. ": store " .. dotted(plain, 10)
    end
    if #options == 4 then info = info .. ", options " .. table.concat(options, " ") end
    self.pinfo.cols.info:set(info)
    self.root:append_text(", settings command")
    self:note_truncation()
end

function Message:device()
    local length = self.length
    if length == 0 then
        return self:malformed("empty datagram on the device port")
    end
    if length == REPLY_SIZE then
        return self:reply()
    end

    -- Commands: known by their length and their command word.
    if self.captured < WORD_SIZE then
        if length == SET_TIME_SIZE or length == SETTINGS_SIZE then
            -- A command's length, but the capture cut it before its command word.
            self:set_type("unknown")
            self.pinfo.cols.info:set(string.format("%d bytes, command word not captured", length))
            return self:note_truncation()
        end
        return self:malformed(byte_count(length) .. " on the device port",
                              "neither a reply (64 bytes) nor a command (10 or 14 bytes)")
    end
    local raw_word = self.tvb:raw(0, WORD_SIZE)
    local word = plain_prefix(self.tvb, WORD_SIZE)
    local kind = describe_word(word)
    if length == SET_TIME_SIZE and kind == "set-time" then
        return self:set_time()
    end
    if length == SETTINGS_SIZE and kind == "settings" then
        return self:settings()
    end
    if describe_word(raw_word) then
        return self:malformed("command word not scrambled",
                              string.format("\"%s\" in a %d-byte datagram", raw_word, length))
    end
    if kind then
        local expected = kind == "set-time" and SET_TIME_SIZE or SETTINGS_SIZE
        return self:malformed(string.format("%s command of %d bytes", kind, length),
                              string.format("it has %d", expected))
    end
    if length == SET_TIME_SIZE or length == SETTINGS_SIZE then
        return self:malformed(string.format("unknown command word in a %d-byte datagram", length),
                              "descrambled \"" .. escaped(word) .. "\"")
    end
    return self:malformed(byte_count(length) .. " on the device port",
                          "neither a reply (64 bytes) nor a command (10 or 14 bytes)")
end

-- ---- registration ---------------------------------------------------------------------------

-- Which side of the protocol a datagram between ports `dst` and `src` belongs to: by
-- destination port first (probes go to the probe port, replies and commands to the device
-- port), then by source port. "shared" when both preferences name the port; nil if neither
-- port is one of ours.
local function side_of_ports(dst, src)
    local probe_port, device_port = proto.prefs.probe_port, proto.prefs.device_port
    for _, port in ipairs({ dst, src }) do
        if port == probe_port and port == device_port then return "shared" end
        if port == device_port then return "device" end
        if port == probe_port then return "probe" end
    end
    return nil
end

local function side(pinfo, tvb)
    local which = side_of_ports(pinfo.dst_port, pinfo.src_port)
    if which == "probe" or which == "device" then
        return which
    end
    -- One port for both, or "Decode As" on another port: a probe tells itself by its text.
    if tvb:len() >= #PROBE_PREFIX and tvb:raw(0, #PROBE_PREFIX) == PROBE_PREFIX then
        return "probe"
    end
    return "device"
end

local function dissect(tvb, pinfo, tree, length, captured, which)
    pinfo.cols.protocol = "SETUPTOOL"
    local root
    if captured > 0 then
        root = tree:add(proto, tvb(0, captured))
    else
        root = tree:add(proto)
    end
    local message = new_message(tvb, pinfo, root, length, captured)
    if which == "probe" then
        message:probe()
    else
        message:device()
    end
end

-- The last frame this dissector was called for through the UDP port table.
local last_frame = nil

function proto.dissector(tvb, pinfo, tree)
    last_frame = pinfo.number
    dissect(tvb, pinfo, tree, tvb:reported_len(), tvb:len(), side(pinfo, tvb))
    return tvb:reported_len()
end

-- UDP hands no datagram without captured payload to the port table: neither an empty one nor
-- one the capture cut right after the UDP header. A post-dissector shows those as well.
local udp_srcport = Field.new("udp.srcport")
local udp_dstport = Field.new("udp.dstport")
local udp_length = Field.new("udp.length")

local function last_value(field)
    local values = { field() }
    return values[#values] and values[#values].value
end

local payloadless = Proto("setuptool_payloadless",
                          "Time Server Set-up Protocol, datagrams without captured payload")

function payloadless.dissector(_, pinfo, tree)
    local handled = last_frame == pinfo.number
    last_frame = nil
    if handled then
        return
    end
    local src, dst, udp_len = last_value(udp_srcport), last_value(udp_dstport),
                              last_value(udp_length)
    if not (src and dst and udp_len) or udp_len < 8 then
        return
    end
    local which = side_of_ports(dst, src)
    if which then
        dissect(nil, pinfo, tree, udp_len - 8, 0, which == "probe" and "probe" or "device")
    end
end

register_postdissector(payloadless)

local udp_port = DissectorTable.get("udp.port")
local registered = {}

local function register_ports()
    for _, port in ipairs(registered) do
        udp_port:remove(port, proto)
    end
    registered = {}
    for _, port in ipairs({ proto.prefs.probe_port, proto.prefs.device_port }) do
        if port > 0 and port <= 65535 then
            udp_port:add(port, proto)
            table.insert(registered, port)
        end
    end
end

function proto.prefs_changed()
    register_ports()
end

register_ports()
