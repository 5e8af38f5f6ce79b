-- Wireshark dissector for Kordo manager's line captures (kordoman --capture, line.pcap of a
-- support bundle): pcap files of link type DLT_USER0 whose records are a 4-byte header
-- (version 1, direction, kind, line) followed by the bytes as they crossed the serial line.
--
-- Enable it for one run:   wireshark -X lua_script:/usr/share/kordoman/wireshark/kordo.lua line.pcap
-- or for good: copy it into ~/.local/lib/wireshark/plugins/ (Wireshark 3.6 and later).

local kordo = Proto("kordo", "Kordo serial line")

local FRAME_START, FRAME_ESCAPE, FRAME_END, STUFF_MASK = 0x1A, 0x1D, 0x1F, 0x60
local ANSWER_OK, ANSWER_REFUSED = 0x20, 0x21

local directions = { [0] = "host to controller", [1] = "controller to host" }
local kinds = { [0] = "Frame", [1] = "Echo of the host's bytes", [2] = "Bytes that form no frame",
                [3] = "Bootloader bytes" }
local message_names = {
    [0x22] = "GET_DEVICE_INFO", [0x23] = "GET_STATUS", [0x25] = "GET_ERROR_LOG", [0x26] = "CLEAR_ERROR_LOG",
    [0x27] = "GET_RUN_DATA", [0x30] = "SET_MOTOR_USER_PARAMS", [0x31] = "GET_MOTOR_USER_PARAMS",
    [0x32] = "IDENT_RUN", [0x33] = "IDENT_STOP", [0x35] = "START_RUN", [0x36] = "IDENT_ERROR",
    [0x40] = "GET_MOTOR_PARAMS", [0x41] = "SET_MOTOR_IDENT_PARAMS", [0x44] = "GET_MOTION_PARAMS",
    [0x45] = "WRITE_MOTION_PARAMS", [0x46] = "GET_PWM_IN_PARAMS", [0x47] = "WRITE_PWM_IN_PARAMS",
    [0x48] = "GET_MOTOR_HOURS", [0x49] = "GET_RESISTANCES", [0x70] = "TELEMETRY",
    [0x80] = "FIRMWARE_UPDATE_ENTRY",
}
local answer_codes = { [ANSWER_OK] = "ANSWER_OK", [ANSWER_REFUSED] = "ANSWER_REFUSED" }

local f = kordo.fields
f.version = ProtoField.uint8("kordo.version", "Record version")
f.direction = ProtoField.uint8("kordo.direction", "Direction", base.DEC, directions)
f.kind = ProtoField.uint8("kordo.kind", "Kind", base.DEC, kinds)
f.line = ProtoField.uint8("kordo.line", "Line")
f.bytes = ProtoField.bytes("kordo.bytes", "Line bytes")
f.address = ProtoField.uint8("kordo.address", "Address", base.HEX)
f.msgid = ProtoField.uint8("kordo.msgid", "Message id", base.HEX, message_names)
f.payload = ProtoField.bytes("kordo.payload", "Payload (unstuffed)")
f.checksum = ProtoField.uint8("kordo.checksum", "Checksum", base.HEX)
f.checksum_bad = ProtoField.bool("kordo.checksum.bad", "Bad checksum")
f.answer = ProtoField.uint8("kordo.answer", "Answer code", base.HEX, answer_codes)
-- identity
f.run_flag = ProtoField.uint8("kordo.identity.run", "Run flag")
f.fw = ProtoField.string("kordo.identity.firmware", "Firmware")
f.serial = ProtoField.uint32("kordo.identity.serial", "Serial number")
f.hw = ProtoField.uint8("kordo.identity.hardware", "Hardware build")
f.dev_address = ProtoField.uint8("kordo.identity.address", "Device address", base.HEX)
-- status block
f.flags = ProtoField.uint8("kordo.status.flags", "Status flags", base.HEX)
f.id_state = ProtoField.uint8("kordo.status.id_state", "Identification state (idState)", base.HEX)
f.saved_msg = ProtoField.uint8("kordo.status.saved_msg", "Stored write message (savedMsgId)", base.HEX, message_names)
f.error_prediction = ProtoField.uint8("kordo.status.error_prediction", "Predicted identification error")
f.stall = ProtoField.uint8("kordo.status.stall", "Stalled motor (stallCode)")
f.error_code = ProtoField.uint8("kordo.status.error", "Device error (errorCode)")
-- telemetry
f.duty_enable = ProtoField.uint8("kordo.duty.enable", "Control enable")
f.duty = ProtoField.int16("kordo.duty.value", "Duty (percent x 163.64)")
f.torque = ProtoField.float("kordo.telemetry.torque", "Torque (Nm)")
f.speed = ProtoField.float("kordo.telemetry.speed", "Speed (rpm)")
f.is = ProtoField.float("kordo.telemetry.is", "Is (A)")
f.vbus = ProtoField.float("kordo.telemetry.vbus", "Vbus (V)")
f.vs = ProtoField.float("kordo.telemetry.vs", "Vs (V)")
f.power = ProtoField.uint16("kordo.telemetry.power", "Power (W)")
f.rs = ProtoField.float("kordo.telemetry.rs", "Rs (Ohm)")
f.flux = ProtoField.float("kordo.telemetry.flux", "Flux (V/Hz)")
f.temp = ProtoField.int16("kordo.telemetry.temp", "Temp (C)")
f.pwm_in = ProtoField.uint16("kordo.telemetry.pwm_in", "PWM input (us)")
-- settings records
f.low_level = ProtoField.uint16("kordo.pwm_in.low", "lowLevel (us)")
f.center_level = ProtoField.uint16("kordo.pwm_in.center", "centerLevel (us)")
f.high_level = ProtoField.uint16("kordo.pwm_in.high", "highLevel (us)")
f.dead_zone = ProtoField.uint8("kordo.pwm_in.dead_zone", "deadZone")
f.pwm_type = ProtoField.string("kordo.pwm_in.pwm_type", "PWM type")
f.control_type = ProtoField.string("kordo.pwm_in.control_type", "Control type")
f.digital = ProtoField.uint8("kordo.pwm_in.digital", "Digital control")
f.analog = ProtoField.uint8("kordo.pwm_in.analog", "Analog control")
f.speed_norm = ProtoField.uint32("kordo.pwm_in.speed_norm", "Speed normalisation")
f.scale = ProtoField.float("kordo.pwm_in.scale", "Scale")
f.acceleration = ProtoField.uint16("kordo.motion.acceleration", "acceleration")
f.brake_intensity = ProtoField.uint8("kordo.motion.brake_intensity", "Brake intensity")
f.brake_position = ProtoField.int8("kordo.motion.brake_position", "Brake slider position (-1: none)")
f.brake_enable = ProtoField.uint8("kordo.motion.brake_enable", "brakeEnable")
f.reverse = ProtoField.uint8("kordo.motion.reverse", "reverseDir")
f.motion_address = ProtoField.uint8("kordo.motion.address", "deviceAddress")
f.hw_address = ProtoField.uint8("kordo.motion.hw_address", "hwAddress")
f.time_to_leave = ProtoField.uint16("kordo.motion.time_to_leave", "timeToLeave (ms)")
f.kp = ProtoField.float("kordo.motion.kp", "Kp")
f.ki = ProtoField.float("kordo.motion.ki", "Ki")
-- motor records
f.motor_rs = ProtoField.float("kordo.motor.rs", "Rs (Ohm)")
f.motor_ls_d = ProtoField.float("kordo.motor.ls_d", "Ls_d (H)")
f.motor_ls_q = ProtoField.float("kordo.motor.ls_q", "Ls_q (H)")
f.motor_flux = ProtoField.float("kordo.motor.flux", "Flux")
f.voltage_scale = ProtoField.uint16("kordo.motor.voltage_scale", "voltage_scale")
f.max_frequency = ProtoField.uint16("kordo.motor.max_frequency", "maxFrequency")
f.max_current = ProtoField.uint16("kordo.motor.max_current", "maxMotorCurrent")
f.pole_pairs = ProtoField.uint8("kordo.motor.pole_pairs", "polePairs")
f.valid_data = ProtoField.uint8("kordo.motor.valid_data", "validData")
f.flux_frequency = ProtoField.uint8("kordo.motor.flux_frequency", "fluxFrequency")
f.res_current = ProtoField.uint16("kordo.motor.res_current", "resCurrent (0.01 A)")
f.ind_current = ProtoField.uint16("kordo.motor.ind_current", "indCurrent (0.01 A)")
f.motor_hours = ProtoField.uint32("kordo.motor.hours", "Motor hours")

local expert_bad_checksum = ProtoExpert.new("kordo.checksum.bad.expert", "Bad checksum",
                                            expert.group.CHECKSUM, expert.severity.ERROR)
local expert_no_frame = ProtoExpert.new("kordo.no_frame.expert", "Bytes that form no frame",
                                        expert.group.MALFORMED, expert.severity.WARN)
kordo.experts = { expert_bad_checksum, expert_no_frame }

local function bits(value, low, count)
    return math.floor(value / 2 ^ low) % 2 ^ count
end

-- Signed fixed point: sign-extended from intBits + fracBits bits, scaled, rounded.
local function fixed_to_float(raw, int_bits, frac_bits, decimals)
    local n = int_bits + frac_bits
    if raw >= 2 ^ (n - 1) then raw = raw - 2 ^ n end
    local x = raw / 2 ^ frac_bits * 10 ^ decimals
    local rounded = x >= 0 and math.floor(x + 0.5) or -math.floor(-x + 0.5)
    return rounded / 10 ^ decimals
end

local function unstuff(tvb)
    local out = {}
    local escape = false
    for i = 1, tvb:len() - 2 do -- between the start and the end byte
        local b = tvb(i, 1):uint()
        if b == FRAME_ESCAPE then
            escape = true
        else
            if escape then b = bit32.bxor(b, STUFF_MASK) end
            escape = false
            out[#out + 1] = string.format("%02x", b)
        end
    end
    return ByteArray.new(table.concat(out))
end

local function add_answer(tree, body)
    if body:len() < 1 then return nil end
    local code = body(0, 1):uint()
    tree:add(f.answer, body(0, 1))
    return code
end

-- Returns the index just past the status block, or nil when the block is cut short.
local function add_status(tree, body)
    if body:len() < 2 then return nil end
    add_answer(tree, body)
    local flags = body(1, 1):uint()
    tree:add(f.flags, body(1, 1))
    local at = 2
    for bit, field in ipairs({ f.id_state, f.saved_msg, f.error_prediction, f.stall, f.error_code }) do
        if bits(flags, bit - 1, 1) == 1 then
            if at >= body:len() then return nil end
            tree:add(field, body(at, 1))
            at = at + 1
        end
    end
    return at
end

local function add_telemetry(tree, body, at)
    local len = body:len() - at
    if len <= 0 then return end
    local raw = {}
    for i = 0, 15 do raw[i] = i < len and body(at + i, 1):uint() or 0 end
    local function word(i) return raw[i] + raw[i + 1] * 256 + raw[i + 2] * 65536 + raw[i + 3] * 16777216 end
    local w0, w1, w2 = word(0), word(4), word(8)
    local h6, h7 = raw[12] + raw[13] * 256, raw[14] + raw[15] * 256
    local range = body(at, math.min(len, 16))
    local t = tree:add(kordo, range, "Telemetry record")
    t:add(f.torque, range, fixed_to_float(bits(w2, 18, 14), 4, 10, 3))
    t:add(f.speed, range, fixed_to_float(bits(w1, 15, 17), 7, 10, 3) * 1000)
    t:add(f.is, range, fixed_to_float(bits(w0, 10, 12), 9, 3, 1))
    t:add(f.vbus, range, fixed_to_float(bits(w0, 0, 10), 8, 3, 1))
    t:add(f.vs, range, fixed_to_float(bits(w2, 7, 11), 8, 3, 1))
    t:add(f.power, range, bits(w1, 2, 13))
    t:add(f.rs, range, h6 / 32768)
    t:add(f.flux, range, h7 / 32768)
    t:add(f.temp, range, bits(w2, 0, 7) - 31)
    t:add(f.pwm_in, range, bits(w0, 22, 10) + bits(w1, 0, 2) * 1024)
end

local function add_identity(tree, body)
    local code = add_answer(tree, body)
    if code ~= ANSWER_OK then return end
    local len = body:len()
    if len >= 2 then tree:add(f.run_flag, body(1, 1)) end
    if len >= 14 then
        tree:add(f.fw, body(2, 3), string.format("%d.%d.%d", body(2, 1):uint(), body(3, 1):uint(), body(4, 1):uint()))
        tree:add_le(f.serial, body(5, 4))
        tree:add(f.hw, body(9, 1))
        tree:add(f.dev_address, body(13, 1))
    elseif len >= 4 then
        tree:add(f.fw, body(2, 2), string.format("%d.x.%d", body(2, 1):uint(), body(3, 1):uint()))
        if len >= 8 then tree:add_le(f.serial, body(4, 4)) end
        if len >= 12 then tree:add(f.hw, body(8, 1)) end
        if len == 13 then tree:add(f.dev_address, body(12, 1)) end
    end
end

local function add_pwm_in(tree, body)
    if body:len() < 8 then return end
    local t = tree:add(kordo, body(0, 8), "SET_PWM_IN_PARAMS")
    t:add(f.low_level, body(0, 1), body(0, 1):uint() * 10)
    t:add(f.center_level, body(1, 1), body(1, 1):uint() * 10)
    t:add(f.high_level, body(2, 1), body(2, 1):uint() * 10)
    t:add(f.dead_zone, body(3, 1), bits(body(3, 1):uint(), 0, 5))
    local w = body(4, 4):le_uint()
    t:add(f.pwm_type, body(4, 4), bits(w, 0, 1) == 1 and "Bipolar" or "Unipolar")
    t:add(f.control_type, body(4, 4), bits(w, 1, 1) == 1 and "Speed" or "Voltage")
    t:add(f.digital, body(4, 4), bits(w, 2, 1))
    t:add(f.analog, body(4, 4), bits(w, 3, 1))
    t:add(f.speed_norm, body(4, 4), bits(w, 4, 12) * 10)
    t:add(f.scale, body(4, 4), bits(w, 16, 7) / 100)
end

-- The brake slider's position for each intensity the program writes.
local brake_positions = { [50] = 0, [70] = 1, [90] = 2 }

local function add_motion(tree, body)
    if body:len() < 8 then return end
    local t = tree:add(kordo, body(0, 8), "SET_MOTION_PARAMS")
    local w = body(0, 4):le_uint()
    t:add(f.acceleration, body(0, 1), bits(w, 0, 8) * 100)
    t:add(f.brake_intensity, body(0, 4), bits(w, 8, 7))
    t:add(f.brake_position, body(0, 4), brake_positions[bits(w, 8, 7)] or -1)
    t:add(f.brake_enable, body(0, 4), bits(w, 15, 1))
    t:add(f.reverse, body(0, 4), bits(w, 16, 1))
    t:add(f.motion_address, body(0, 4), bits(w, 17, 3))
    t:add(f.hw_address, body(0, 4), bits(w, 20, 1))
    t:add(f.time_to_leave, body(0, 4), bits(w, 21, 6) * 50)
    -- The settings page and the settings file read a gain word as unsigned.
    t:add(f.kp, body(4, 2), body(4, 2):le_uint() / 1024)
    t:add(f.ki, body(6, 2), body(6, 2):le_uint() / 1024)
end

local function add_motor_ident(tree, body)
    if body:len() < 16 then return end
    local t = tree:add(kordo, body(0, 16), "Motor identification parameters")
    t:add_le(f.motor_rs, body(0, 4))
    t:add_le(f.motor_ls_d, body(4, 4))
    t:add_le(f.motor_ls_q, body(8, 4))
    t:add_le(f.motor_flux, body(12, 4))
end

local function add_motor_user(tree, body)
    if body:len() < 12 then return end
    local t = tree:add(kordo, body(0, 12), "Motor user parameters")
    t:add_le(f.voltage_scale, body(0, 2))
    t:add_le(f.max_frequency, body(2, 2))
    t:add_le(f.max_current, body(4, 2))
    t:add(f.pole_pairs, body(6, 1))
    t:add(f.valid_data, body(7, 1))
    local w = body(8, 4):le_uint()
    t:add(f.flux_frequency, body(8, 4), bits(w, 0, 8))
    t:add(f.res_current, body(8, 4), bits(w, 8, 12))
    t:add(f.ind_current, body(8, 4), bits(w, 20, 12))
end

-- The record of a frame's payload, by message id and direction.
local function add_payload(tree, msgid, request, body)
    if msgid == 0x22 then
        if not request then add_identity(tree, body) end
    elseif msgid == 0x23 then
        if not request then add_status(tree, body) end
    elseif msgid == 0x70 then
        if request then
            if body:len() >= 1 then tree:add(f.duty_enable, body(0, 1)) end
            if body:len() >= 3 then tree:add_le(f.duty, body(1, 2)) end
        else
            local at = add_status(tree, body)
            if at and body(0, 1):uint() == ANSWER_OK then add_telemetry(tree, body, at) end
        end
    elseif msgid == 0x46 or msgid == 0x47 then
        if (msgid == 0x46) ~= request then add_pwm_in(tree, body) else add_answer(tree, body) end
    elseif msgid == 0x44 or msgid == 0x45 then
        if (msgid == 0x44) ~= request then add_motion(tree, body) else add_answer(tree, body) end
    elseif msgid == 0x40 or msgid == 0x41 then
        if (msgid == 0x40) ~= request then add_motor_ident(tree, body) else add_answer(tree, body) end
    elseif msgid == 0x31 or msgid == 0x30 then
        if (msgid == 0x31) ~= request then add_motor_user(tree, body) else add_answer(tree, body) end
    elseif msgid == 0x48 then
        if not request and body:len() >= 4 then tree:add_le(f.motor_hours, body(0, 4)) end
    elseif not request and msgid ~= 0x25 and msgid ~= 0x27 and msgid ~= 0x36 and msgid ~= 0x49 then
        add_answer(tree, body)
    end
end

function kordo.dissector(tvb, pinfo, root)
    if tvb:len() < 4 then return 0 end
    pinfo.cols.protocol = "Kordo"
    local direction = tvb(1, 1):uint()
    local kind = tvb(2, 1):uint()
    local tree = root:add(kordo, tvb(), "Kordo serial line")
    tree:add(f.version, tvb(0, 1))
    tree:add(f.direction, tvb(1, 1))
    tree:add(f.kind, tvb(2, 1))
    tree:add(f.line, tvb(3, 1))
    local line = tvb(4)
    tree:add(f.bytes, line)
    local arrow = direction == 0 and "host > esc" or "esc > host"
    local line_number = tvb(3, 1):uint()
    if line_number > 0 then arrow = string.format("line %d: %s", line_number, arrow) end -- a production run
    pinfo.cols.src = direction == 0 and "host" or "controller"
    pinfo.cols.dst = direction == 0 and "controller" or "host"
    if kind == 2 or kind == 3 then
        if kind == 2 then tree:add_proto_expert_info(expert_no_frame) end
        pinfo.cols.info = string.format("%s %s, %d bytes", arrow, kinds[kind], line:len())
        return tvb:len()
    end
    local frame = line:tvb()
    if frame:len() < 5 or frame(0, 1):uint() ~= FRAME_START or frame(frame:len() - 1, 1):uint() ~= FRAME_END then
        tree:add_proto_expert_info(expert_no_frame)
        pinfo.cols.info = string.format("%s %d bytes that form no frame", arrow, line:len())
        return tvb:len()
    end
    local body_bytes = unstuff(frame)
    local body = body_bytes:tvb("Unstuffed frame")
    local n = body:len()
    if n < 3 then
        tree:add_proto_expert_info(expert_no_frame)
        return tvb:len()
    end
    local sum = 0
    for i = 0, n - 2 do sum = (sum + body(i, 1):uint()) % 256 end
    local expected = 255 - sum
    local checksum = body(n - 1, 1):uint()
    local msgid = body(1, 1):uint()
    local name = message_names[msgid] or string.format("0x%02X", msgid)
    tree:add(f.address, body(0, 1))
    tree:add(f.msgid, body(1, 1))
    local payload = n > 3 and body(2, n - 3) or nil
    if payload then tree:add(f.payload, payload) end
    local ck = tree:add(f.checksum, body(n - 1, 1))
    local bad = checksum ~= expected
    tree:add(f.checksum_bad, body(n - 1, 1), bad)
    if bad then
        ck:append_text(string.format(" [BAD, expected 0x%02X]", expected))
        ck:add_proto_expert_info(expert_bad_checksum)
    end
    local request = direction == 0
    if kind == 1 then
        pinfo.cols.info = string.format("%s echo %s", arrow, name)
        return tvb:len()
    end
    if payload then
        add_payload(tree, msgid, request, payload:tvb())
    elseif not request then
        add_payload(tree, msgid, request, ByteArray.new(""):tvb("Empty payload"))
    end
    local info = string.format("%s %s %s", arrow, name, request and "request" or "answer")
    if not request and payload and answer_codes[payload(0, 1):uint()] and msgid ~= 0x25 and msgid ~= 0x27
       and msgid ~= 0x31 and msgid ~= 0x36 and msgid ~= 0x40 and msgid ~= 0x44 and msgid ~= 0x46
       and msgid ~= 0x48 and msgid ~= 0x49 then
        info = info .. " " .. answer_codes[payload(0, 1):uint()]
    end
    if bad then info = info .. " [BAD CHECKSUM]" end
    pinfo.cols.info = info
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, kordo)
