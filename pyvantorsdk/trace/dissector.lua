-- Wireshark dissector for the Vantor adapter's USB traffic, written by
-- `vantor trace dissector` from the command tables of pyvantorsdk @VERSION@.
-- Install: copy this file into ~/.local/lib/wireshark/plugins/ (Wireshark
-- and tshark load it at start), or run once with
--   tshark -X lua_script:vantor.lua -r capture.pcapng
--
-- It reads Linux USB captures (usbmon headers, as `--trace` writes them):
-- HID reports carry message segments (a 2-byte header: bit 0 first, bit 1
-- last, bits 2..11 chunk length), which are put back together per adapter
-- (bus.device) and direction the way the SDK does; a message is shown on the
-- packet of its last segment. Bulk transfers are shown as the data phase of
-- the bulk command in flight on the same adapter.
--
-- State: the assembly buffers and the open requests are built the first
-- time a packet is seen; what was found for each packet is kept by frame
-- number, so that Wireshark's later passes show the same thing.

local vantor = Proto("vantor", "Vantor adapter protocol")

-- Tables generated from the SDK: STATUS, ENUMS, CCC, GROUP_FAMILY,
-- KIND_NAMES, UNKNOWN_KIND, CODE_NAMES, FIELD_DEFS, COMMANDS, NOTIFICATIONS.
@TABLES@

local SIZES = { u8 = 1, u16 = 2, u32 = 4, u16be = 2 }
local TRANSFER_INTERRUPT = 1
local TRANSFER_BULK = 3
-- The report payload sizes of the two adapter models; a device is taken for
-- an adapter when one of its reports has one of these sizes and opens a
-- message (opens_message).
local REPORT_SIZES = { [64] = true, [1024] = true }
-- The SDK refuses to assemble more: every variable part of a message is
-- announced by a u16 length and follows at most 14 fixed bytes.
local MAX_MESSAGE = 14 + 65535

local F = {
    segment = ProtoField.uint16("vantor.segment", "Segment header", base.HEX),
    first = ProtoField.bool("vantor.segment.first", "First segment", 16, nil, 0x0001),
    last = ProtoField.bool("vantor.segment.last", "Last segment", 16, nil, 0x0002),
    chunk = ProtoField.uint16("vantor.segment.length", "Chunk length", base.DEC, nil, 0x0FFC),
    message = ProtoField.bytes("vantor.message", "Message"),
    direction = ProtoField.string("vantor.direction", "Direction"),
    tid = ProtoField.uint16("vantor.tid", "Transaction id", base.DEC),
    command = ProtoField.uint16("vantor.command", "Command", base.HEX, CODE_NAMES),
    status = ProtoField.uint16("vantor.status", "Status", base.HEX, STATUS),
    notification = ProtoField.uint8("vantor.notification", "Notification kind", base.DEC,
                                    KIND_NAMES),
    header_word = ProtoField.uint16("vantor.header_word", "Header word", base.HEX),
    family = ProtoField.string("vantor.family", "Family"),
    trailing = ProtoField.bytes("vantor.trailing", "Bytes after the known fields"),
    request_in = ProtoField.framenum("vantor.request_in", "Request in frame"),
    response_in = ProtoField.framenum("vantor.response_in", "Response in frame"),
    latency = ProtoField.double("vantor.latency", "Time since the request (s)"),
    bulk_data = ProtoField.bytes("vantor.bulk.data", "Bulk data"),
    bulk_command = ProtoField.uint16("vantor.bulk.command", "Bulk data of", base.HEX, CODE_NAMES),
    bulk_tid = ProtoField.uint16("vantor.bulk.tid", "Bulk data of transaction", base.DEC),
}

local E = {
    malformed = ProtoExpert.new("vantor.malformed", "Malformed", expert.group.MALFORMED,
                                expert.severity.ERROR),
    unknown = ProtoExpert.new("vantor.unknown", "Unknown code", expert.group.UNDECODED,
                              expert.severity.WARN),
    unmatched = ProtoExpert.new("vantor.unmatched", "Response without its request",
                                expert.group.SEQUENCE, expert.severity.WARN),
    failed = ProtoExpert.new("vantor.failed", "Failed status", expert.group.RESPONSE_CODE,
                             expert.severity.NOTE),
}

do
    local all = {}
    for _, field in pairs(F) do all[#all + 1] = field end
    for _, def in ipairs(FIELD_DEFS) do all[#all + 1] = def.field end
    vantor.fields = all
    vantor.experts = { E.malformed, E.unknown, E.unmatched, E.failed }
end

local f_bus = Field.new("usb.bus_id")
local f_device = Field.new("usb.device_address")
local f_endpoint = Field.new("usb.endpoint_address")
local f_transfer = Field.new("usb.transfer_type")

-- frames[n]: what packet n holds (false: not ours); assembly[adapter .. dir]:
-- {bytes = {hex chunks}, size, assembling}; adapters[adapter]: seen carrying
-- segments; requests[adapter][tid]: the open request; bulk[adapter .. dir]:
-- the bulk data phase expected.
local frames, assembly, adapters, requests, bulk

local function reset()
    frames, assembly, adapters, requests, bulk = {}, {}, {}, {}, {}
end
reset()
vantor.init = reset

local function u16(t, offset) return t(offset, 2):le_uint() end

local function bits(header)
    return header % 2 == 1, math.floor(header / 2) % 2 == 1, math.floor(header / 4) % 1024
end

-- A report that opens a message of an adapter we have not met yet: a
-- first segment of a known command or notification, so that other HID
-- devices' reports are left alone.
local function opens_message(tvb)
    local size = tvb:len()
    if not REPORT_SIZES[size] then return false end
    local header = u16(tvb, 0)
    local first, _, chunk = bits(header)
    return first and header < 0x1000 and chunk >= 4 and chunk <= size - 2
        and CODE_NAMES[u16(tvb, 4)] ~= nil
end

-- Feeds one report into the assembly of its adapter and direction, as the
-- SDK's assembler does: a malformed report or a continuation with no
-- message open drops what was being assembled; a complete message stays
-- delivered (a later continuation does not extend it).
local function reassemble(rec, tvb, key)
    local size = tvb:len()
    local state = assembly[key]
    if state == nil then
        state = { bytes = {}, size = 0, assembling = false }
        assembly[key] = state
    end
    local function drop(problem)
        state.bytes, state.size, state.assembling = {}, 0, false
        rec.problem = problem
    end
    if size < 2 then
        return drop(string.format("report of %d byte(s) is shorter than a segment header", size))
    end
    local header = u16(tvb, 0)
    local first, last, chunk = bits(header)
    rec.header = header
    if chunk > size - 2 then
        return drop(string.format("segment announces %d bytes but the report carries %d",
                                  chunk, size - 2))
    end
    if first then
        state.bytes, state.size, state.assembling = {}, 0, true
    elseif not state.assembling then
        return drop("continuation segment without a message being assembled")
    end
    if state.size + chunk > MAX_MESSAGE then
        return drop(string.format("message longer than %d bytes", MAX_MESSAGE))
    end
    if chunk > 0 then
        state.bytes[#state.bytes + 1] = tvb(2, chunk):bytes():tohex()
        state.size = state.size + chunk
    end
    rec.chunk = chunk
    if not last then
        rec.pending = state.size
        return
    end
    state.assembling = false
    rec.length = state.size
    rec.single = first
    if state.size > 0 then rec.message = table.concat(state.bytes) end
end

-- Adds the fields of `layout` from `offset` on; returns the values read
-- (name -> number or byte count), the offset after them and a problem.
local function add_fields(tree, m, offset, layout)
    local values = {}
    local size = m:len()
    for _, fd in ipairs(layout or {}) do
        local width = SIZES[fd.type]
        if fd.type == "bytes" then
            if fd.count == "*" then
                width = size - offset
            elseif fd.count:match("^%d+$") then
                width = tonumber(fd.count)
            else
                width = values[fd.count]
                if width == nil then
                    return values, offset,
                        string.format("%s: its count field %s is missing", fd.name, fd.count)
                end
            end
        end
        if offset >= size and fd.optional then break end
        if offset + width > size then
            if fd.type == "bytes" and offset < size then
                tree:add(fd.def.field, m(offset, size - offset))
            end
            return values, size,
                string.format("%s: %d byte(s) needed at offset %d, %d present", fd.name, width,
                              offset, size - offset)
        end
        if fd.type == "bytes" then
            if width > 0 then tree:add(fd.def.field, m(offset, width)) end
            values[fd.name] = width
        elseif fd.type == "u16be" then
            tree:add(fd.def.field, m(offset, width))
            values[fd.name] = m(offset, width):uint()
        else
            tree:add_le(fd.def.field, m(offset, width))
            values[fd.name] = m(offset, width):le_uint()
        end
        offset = offset + width
    end
    return values, offset, nil
end

-- The byte count a bulk data phase takes from a field: a field of this
-- message, or "request.NAME" for a field of the request it answers.
local function bulk_count(name, values, request)
    local from_request = name:match("^request%.(.+)$")
    if from_request then return request and request.values[from_request] end
    return values[name]
end

-- Whether a command that moves data either way reads (bit 0 of its
-- direction field set): its data phase is then bulk IN, else bulk OUT.
local function reads(entry, values)
    local control = entry.direction ~= "" and values[entry.direction]
    return control and control % 2 == 1 or false
end

-- Dissects one whole message; on the packet's first pass (`rec.fresh`)
-- also updates the open requests and the expected bulk phases.
local function dissect_message(m, pinfo, root, rec)
    local size = m:len()
    local mt = root:add(F.message, m())
    mt:set_text(string.format("Message (%d bytes)", size))
    local dir = rec.inward and "response" or "request"
    if size < 4 or (rec.inward and size < 6) then
        local need = rec.inward and 6 or 4
        mt:add_proto_expert_info(E.malformed,
            string.format("message of %d byte(s) is shorter than its %d-byte header", size, need))
        pinfo.cols.info:set(string.format("Malformed %s of %d byte(s)", dir, size))
        return
    end
    local tid, code = u16(m, 0), u16(m, 2)
    if rec.inward and tid == 0 then dir = "notification" end
    mt:add(F.direction, dir):set_generated()
    mt:add_le(F.tid, m(0, 2))
    mt:add_le(F.command, m(2, 2))
    local entry, layout, offset, status
    if dir == "notification" then
        entry = NOTIFICATIONS[code]
        mt:add(F.notification, entry and entry.kind or UNKNOWN_KIND):set_generated()
        mt:add_le(F.header_word, m(4, 2))
        layout, offset = entry and entry.fields, 6
    elseif dir == "response" then
        entry = COMMANDS[code]
        status = u16(m, 4)
        mt:add_le(F.status, m(4, 2))
        if status ~= 0 then
            mt:add_proto_expert_info(E.failed, STATUS[status] or string.format("0x%04x", status))
        end
        layout, offset = entry and entry.response, 6
    else
        entry = COMMANDS[code]
        layout, offset = entry and entry.request, 4
    end
    local family = entry and entry.family or GROUP_FAMILY[math.floor(code / 1024)] or ""
    mt:add(F.family, family):set_generated()
    local name = entry and entry.name or string.format("0x%04x", code)
    if entry == nil then
        mt:add_proto_expert_info(E.unknown, string.format("unknown %s code 0x%04x", dir, code))
    end

    local values, after, problem = add_fields(mt, m, offset, layout)
    if problem then
        mt:add_proto_expert_info(E.malformed, problem)
    elseif after < size then
        mt:add(F.trailing, m(after, size - after))
    end

    local key = rec.adapter
    if rec.fresh then
        requests[key] = requests[key] or {}
        if dir == "request" then
            requests[key][tid] = { frame = pinfo.number, time = pinfo.abs_ts, code = code,
                                   values = values }
            local count = entry and entry.bulk_out ~= "" and not reads(entry, values)
                and values[entry.bulk_out]
            if count and count > 0 then
                bulk[key .. ">"] = { code = code, tid = tid, left = count }
            end
        elseif dir == "response" then
            local request = requests[key][tid]
            if request and request.code == code then
                requests[key][tid] = nil
                rec.request_frame = request.frame
                -- Shown on the request from Wireshark's second pass on.
                if frames[request.frame] then frames[request.frame].response_frame = pinfo.number end
                rec.latency = pinfo.abs_ts - request.time
            else
                request = nil
            end
            local count = status == 0 and entry and entry.bulk_in ~= ""
                and (entry.direction == "" or (request and reads(entry, request.values)))
                and bulk_count(entry.bulk_in, values, request)
            if count and count > 0 then
                bulk[key .. "<"] = { code = code, tid = tid, left = count }
            end
        end
    end
    if rec.response_frame then
        mt:add(F.response_in, rec.response_frame):set_generated()
    end
    if dir == "response" then
        if rec.request_frame then
            mt:add(F.request_in, rec.request_frame):set_generated()
            mt:add(F.latency, rec.latency):set_generated()
        else
            mt:add_proto_expert_info(E.unmatched)
        end
    end

    local info = string.format("%s %s tid %d", dir, name, tid)
    if status ~= nil then info = info .. " → " .. (STATUS[status] or string.format("0x%04x", status)) end
    if problem then info = info .. " [malformed]" end
    pinfo.cols.info:set(info)
end

local function dissect_bulk(rec, tvb, pinfo, root)
    root:add(F.bulk_data, tvb())
    local arrow = rec.inward and "IN" or "OUT"
    if rec.bulk_code then
        root:add(F.bulk_command, rec.bulk_code):set_generated()
        root:add(F.bulk_tid, rec.bulk_tid):set_generated()
        pinfo.cols.info:set(string.format("bulk %s data of %s tid %d (%d bytes)", arrow,
            CODE_NAMES[rec.bulk_code] or string.format("0x%04x", rec.bulk_code), rec.bulk_tid,
            tvb:len()))
    else
        pinfo.cols.info:set(string.format("bulk %s data, no bulk command in flight (%d bytes)",
                                          arrow, tvb:len()))
    end
end

-- What packet `n` holds, worked out the first time it is seen.
local function first_sight(tvb, pinfo)
    local bus, device = f_bus(), f_device()
    local endpoint, transfer = f_endpoint(), f_transfer()
    if not (bus and device and endpoint and transfer) then return false end
    local adapter = tostring(bus.value) .. "." .. tostring(device.value)
    local rec = { adapter = adapter, inward = endpoint.value >= 0x80, fresh = true }
    if transfer.value == TRANSFER_BULK then
        if not adapters[adapter] then return false end
        rec.bulk = true
        local key = adapter .. (rec.inward and "<" or ">")
        local phase = bulk[key]
        if phase then
            rec.bulk_code, rec.bulk_tid = phase.code, phase.tid
            phase.left = phase.left - tvb:len()
            if phase.left <= 0 then bulk[key] = nil end
        end
        return rec
    end
    if transfer.value ~= TRANSFER_INTERRUPT then return false end
    if not adapters[adapter] then
        if not opens_message(tvb) then return false end
        adapters[adapter] = true
    end
    reassemble(rec, tvb, adapter .. (rec.inward and "<" or ">"))
    return rec
end

local function heuristic(tvb, pinfo, tree)
    local rec = frames[pinfo.number]
    if rec == nil then
        rec = first_sight(tvb, pinfo)
        frames[pinfo.number] = rec
    end
    if not rec then return false end
    pinfo.cols.protocol:set("VANTOR")
    local root = tree:add(vantor, tvb())
    if rec.bulk then
        dissect_bulk(rec, tvb, pinfo, root)
    else
        if rec.header then
            local seg = root:add_le(F.segment, tvb(0, 2))
            seg:add_le(F.first, tvb(0, 2))
            seg:add_le(F.last, tvb(0, 2))
            seg:add_le(F.chunk, tvb(0, 2))
        end
        if rec.problem then
            root:add_proto_expert_info(E.malformed, rec.problem)
            pinfo.cols.info:set("malformed segment: " .. rec.problem)
        elseif rec.message then
            local m
            if rec.single then
                m = tvb(2, rec.length):tvb()
            else
                m = ByteArray.new(rec.message):tvb("Reassembled message")
            end
            dissect_message(m, pinfo, root, rec)
        elseif rec.pending then
            pinfo.cols.info:set(string.format("segment of %d bytes, %d assembled so far",
                                              rec.chunk, rec.pending))
        else
            root:add_proto_expert_info(E.malformed, "empty message")
            pinfo.cols.info:set("empty message")
        end
    end
    rec.fresh = false
    return true
end

vantor:register_heuristic("usb.interrupt", heuristic)
vantor:register_heuristic("usb.bulk", heuristic)
