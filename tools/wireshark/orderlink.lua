-- Wireshark dissector for orderlink frame traces (orderlink --trace FILE).
--
-- The trace is pcapng with link type USER0 (147): one packet per frame the PC wrote
-- (direction outbound) and one per chunk the PC read (direction inbound, from the
-- epb_flags option). A chunk may hold several frames, or only part of one: whole
-- frames are decoded, bytes before the first preamble are the rest of a frame from
-- an earlier chunk, and a frame cut off at the end continues in the next chunk.
--
-- The Debian package installs it in Wireshark's folder of Lua plugins, which
-- loads it by itself:
--   tshark -r trace.pcapng -V
--   wireshark trace.pcapng
-- From a source tree, name it: tshark -X lua_script:orderlink.lua -r trace.pcapng -V
--
-- Frames: preamble 00 00 00, then
--   poll       route 01 handset
--   roll call  01 handset                              (no route byte; PC only)
--   long       route 02 L address sequence more code[4] body[L-7]
-- Download records (PC to handsets, code = table tag) carry in front of their piece:
-- record number (5 digits), table line count (4), position in the table (4).
-- Text travels as GBK.

local orderlink = Proto("orderlink", "orderlink serial line")

local INBOUND, OUTBOUND = 1, 2

local types = { [1] = "short", [2] = "long" }
local moreFlags = { [0] = "last packet", [1] = "more packets follow" }

local f = orderlink.fields
f.direction = ProtoField.string("orderlink.direction", "Direction")
f.frame = ProtoField.string("orderlink.frame", "Frame")
f.preamble = ProtoField.bytes("orderlink.preamble", "Preamble")
f.route = ProtoField.uint8("orderlink.route", "Route byte", base.HEX)
f.type = ProtoField.uint8("orderlink.type", "Type", base.HEX, types)
f.handset = ProtoField.uint8("orderlink.handset", "Handset", base.DEC)
f.length = ProtoField.uint8("orderlink.length", "Length", base.DEC)
f.address = ProtoField.uint8("orderlink.address", "Address", base.DEC)
f.sequence = ProtoField.uint8("orderlink.sequence", "Sequence", base.DEC)
f.more = ProtoField.uint8("orderlink.more", "More", base.DEC, moreFlags)
f.code = ProtoField.string("orderlink.code", "Command code")
f.meaning = ProtoField.string("orderlink.meaning", "Meaning")
f.sender = ProtoField.uint8("orderlink.sender", "Sending handset", base.DEC)
f.text = ProtoField.string("orderlink.text", "Text")
f.body = ProtoField.bytes("orderlink.body", "Body")
f.tag = ProtoField.string("orderlink.tag", "Table tag")
f.record = ProtoField.string("orderlink.record", "Record number")
f.line_count = ProtoField.string("orderlink.line_count", "Table line count")
f.position = ProtoField.string("orderlink.position", "Position in table")
f.piece = ProtoField.string("orderlink.piece", "Record data")
f.missing_from = ProtoField.string("orderlink.missing_from", "Missing after record")
f.missing_count = ProtoField.uint8("orderlink.missing_count", "Records missing", base.DEC)
f.continuation = ProtoField.bytes("orderlink.continuation", "Continuation bytes")
f.incomplete = ProtoField.bytes("orderlink.incomplete", "Incomplete frame")
f.other = ProtoField.bytes("orderlink.other", "Bytes outside frames")

local tableTitles = {
  ["CLB "] = "菜品类别表", ["KYQB"] = "客户要求表", ["TCB "] = "菜品套餐表",
  ["TCPB"] = "菜品套餐内容表", ["QCB "] = "起菜方式表", ["CPB "] = "菜品表",
  ["JDMC"] = "酒店名称", ["TLYB"] = "退菜理由表", ["PZWJ"] = "配置文件",
  ["KJHM"] = "开机画面", ["XGMM"] = "管理员密码", ["TJCP"] = "推荐菜品表",
  ["TJNR"] = "推荐菜品内容表",
}

local requestCodes = {
  "DL  ", "KT  ", "HT  ", "CT  ", "XGTT", "YDKT", "ZDCX", "KHYQ", "DYDC", "CPCC", "CLCC",
  "ZZCC", "THYD", "LBKX", "THKX", "YDHZ", "KXHZ", "DC  ", "TC  ", "JC  ", "ZSCP", "XGMM",
}
local isRequest = {}
for _, code in ipairs(requestCodes) do isRequest[code] = true end

local meanings = {
  ["DL  "] = "handset log-in",
  ["SJCX"] = "time",
  ["FHJS"] = "end of reply",
  ["DX  "] = "short message",
  ["DM  "] = "roll call",
  ["TXCS"] = "link test",
  ["QBKS"] = "opening of a download",
  ["QBJS"] = "end of a download",
  ["XZDM"] = "download status query",
  ["XZWC"] = "download complete",
  ["XZSB"] = "download failed",
  ["XZCC"] = "download records missing",
  ["CCKS"] = "opening of a resend",
  ["CCJS"] = "closing of a resend",
}

local function meaningOf(code, direction, isRecord, headerOnly)
  if isRecord then return "download record: " .. (tableTitles[code] or code) end
  if code:sub(1, 3) == "CRC" then return "failure notice of the radio side" end
  if code == "SJCX" then
    if direction == INBOUND and headerOnly then return "time query" end
    return "time answer"
  end
  if meanings[code] then
    if direction == INBOUND and isRequest[code] then return "request: " .. meanings[code] end
    return meanings[code]
  end
  if isRequest[code] then
    return direction == INBOUND and "request" or "reply"
  end
  return "unknown code"
end

local directionField = Field.new("frame.packet_flags_direction")
-- orderlink marks each frame its parser dropped with a packet without bytes whose
-- comment says why ("discarded: wrong address").
local commentField = Field.new("frame.comment")

local function isDigits(tvb, offset, count)
  for i = offset, offset + count - 1 do
    local b = tvb(i, 1):uint()
    if b < 0x30 or b > 0x39 then return false end
  end
  return true
end

-- Offset of the next preamble (three zero bytes) at or after `from`, or nil.
local function nextPreamble(tvb, from)
  local n = tvb:len()
  local zeros = 0
  for i = from, n - 1 do
    if tvb(i, 1):uint() == 0 then
      zeros = zeros + 1
      if zeros == 3 then return i - 2 end
    else
      zeros = 0
    end
  end
  return nil
end

-- GBK text decoded by Wireshark itself (GB 18030 is a superset of GBK).
local function addText(tree, field, range)
  if range:len() > 0 then tree:add_packet_field(field, range, ENC_GB18030) end
end

-- Body of a long frame: text, a download record, or the handset's request.
local function dissectBody(tvb, tree, body, code, direction, sequence, isRecord)
  if body:len() == 0 then return end
  if isRecord then
    tree:add(f.record, body(0, 5), body(0, 5):string())
    tree:add(f.line_count, body(5, 4), body(5, 4):string())
    tree:add(f.position, body(9, 4), body(9, 4):string())
    if body:len() > 13 then addText(tree, f.piece, body(13)) end
    return
  end
  local payload = body
  if direction == INBOUND and sequence == 1 then
    tree:add(f.sender, body(0, 1))
    if body:len() == 1 then return end
    payload = body(1)
  end
  if code == "XZCC" and direction == INBOUND and sequence == 1 then
    local at = 0
    while at + 6 <= payload:len() do
      local group = tree:add(orderlink, payload(at, 6), "Missing records")
      group:add(f.missing_from, payload(at, 5), payload(at, 5):string())
      group:add(f.missing_count, payload(at + 5, 1))
      at = at + 6
    end
    return
  end
  if code == "SJCX" and direction == OUTBOUND then
    tree:add(f.body, payload)
    return
  end
  addText(tree, f.text, payload)
  tree:add(f.body, payload)
end

-- One frame starting at the preamble at `start`. Returns the offset after it and a
-- summary for the Info column.
local function dissectFrame(tvb, tree, start, direction)
  local n = tvb:len()
  local at = start
  while at < n and tvb(at, 1):uint() == 0 do at = at + 1 end
  if at >= n then
    tree:add(f.incomplete, tvb(start)):append_text(" (preamble only; continues in the next chunk)")
    return n, "preamble"
  end
  local first = tvb(at, 1):uint()

  -- The roll call has no route byte: 00 00 00 01 handset.
  if direction == OUTBOUND and first == 1 then
    if at + 1 >= n then
      tree:add(f.incomplete, tvb(start)):append_text(" (continues in the next chunk)")
      return n, "roll call (cut)"
    end
    local frame = tree:add(orderlink, tvb(start, at + 2 - start), "Roll call")
    frame:add(f.preamble, tvb(start, at - start))
    frame:add(f.type, tvb(at, 1))
    frame:add(f.handset, tvb(at + 1, 1))
    local handset = tvb(at + 1, 1):uint()
    frame:append_text(", handset " .. handset)
    return at + 2, "DM   roll call " .. handset
  end

  local function cut(what)
    tree:add(f.incomplete, tvb(start)):append_text(" (" .. what .. ", continues in the next chunk)")
    return n, what .. " (cut)"
  end
  if at + 1 >= n then return cut("frame") end
  local frameType = tvb(at + 1, 1):uint()

  if frameType == 1 then
    if at + 2 >= n then return cut("poll") end
    local frame = tree:add(orderlink, tvb(start, at + 3 - start), "Poll")
    frame:add(f.preamble, tvb(start, at - start))
    frame:add(f.route, tvb(at, 1))
    frame:add(f.type, tvb(at + 1, 1))
    frame:add(f.handset, tvb(at + 2, 1))
    local handset = tvb(at + 2, 1):uint()
    frame:append_text(", handset " .. handset)
    return at + 3, "poll " .. handset
  end

  if frameType ~= 2 then
    -- Not a frame this line knows: show the bytes up to the next preamble.
    local stop = nextPreamble(tvb, at) or n
    tree:add(f.other, tvb(start, stop - start))
    return stop, "unknown bytes"
  end

  if at + 2 >= n then return cut("long frame") end
  local length = tvb(at + 2, 1):uint()
  local frameEnd = at + 3 + length
  if length < 7 or frameEnd > n then
    if length >= 7 then return cut("long frame") end
    local stop = nextPreamble(tvb, at) or n
    tree:add(f.other, tvb(start, stop - start)):append_text(" (length below 7)")
    return stop, "bad length"
  end

  local h = at + 3  -- header after the length byte
  local address = tvb(h, 1):uint()
  local sequence = tvb(h + 1, 1):uint()
  local more = tvb(h + 2, 1):uint()
  local code = tvb(h + 3, 4):string()
  local body = length > 7 and tvb(h + 7, length - 7) or tvb(h + 7, 0)
  local isRecord = direction == OUTBOUND and tableTitles[code] ~= nil and length >= 20 and
                   isDigits(tvb, h + 7, 5)
  local meaning = meaningOf(code, direction, isRecord, length == 7)

  local frame = tree:add(orderlink, tvb(start, frameEnd - start), "Frame \"" .. code .. "\"")
  frame:add(f.preamble, tvb(start, at - start))
  frame:add(f.route, tvb(at, 1))
  frame:add(f.type, tvb(at + 1, 1))
  frame:add(f.length, tvb(at + 2, 1))
  local addressItem = frame:add(f.address, tvb(h, 1))
  if address == 0xFF then
    addressItem:append_text(" (the PC)")
  elseif address == 0 and direction == OUTBOUND then
    addressItem:append_text(" (every handset)")
  end
  frame:add(f.sequence, tvb(h + 1, 1))
  frame:add(f.more, tvb(h + 2, 1))
  frame:add(f.code, tvb(h + 3, 4))
  if isRecord then frame:add(f.tag, tvb(h + 3, 4)) end
  frame:add(f.meaning, tvb(h + 3, 4), meaning)
  dissectBody(tvb, frame, body, code, direction, sequence, isRecord)

  local summary = code .. " " .. meaning
  if direction == OUTBOUND then
    summary = summary .. (address == 0 and " to all" or (" to " .. address))
  elseif sequence == 1 and length > 7 then
    summary = summary .. " from " .. body(0, 1):uint()
  end
  if isRecord then summary = summary .. " #" .. body(0, 5):string() end
  if more == 1 or sequence > 1 then summary = summary .. " [packet " .. sequence .. "]" end
  frame:append_text(": " .. meaning)
  return frameEnd, summary
end

function orderlink.dissector(tvb, pinfo, tree)
  local direction = INBOUND
  local flags = directionField()
  if flags then direction = flags.value end
  if direction ~= OUTBOUND then direction = INBOUND end

  pinfo.cols.protocol = "orderlink"
  local root = tree:add(orderlink, tvb(), "orderlink serial line")
  root:add(f.direction, direction == OUTBOUND and "PC to base station" or "base station to PC")

  local n = tvb:len()
  if n == 0 then
    local comment = commentField()
    pinfo.cols.info = "PC< " .. (comment and tostring(comment.value) or "no bytes")
    return 0
  end
  local summaries = {}
  local pos = nextPreamble(tvb, 0) or n
  if pos > 0 then
    root:add(f.continuation, tvb(0, pos)):append_text(" (rest of a frame from an earlier chunk)")
    summaries[#summaries + 1] = "continuation"
  end
  while pos < n do
    local stop, summary = dissectFrame(tvb, root, pos, direction)
    summaries[#summaries + 1] = summary
    pos = stop
    if pos < n then
      local following = nextPreamble(tvb, pos) or n
      if following > pos then
        root:add(f.other, tvb(pos, following - pos))
        pos = following
      end
    end
  end
  pinfo.cols.info = (direction == OUTBOUND and "PC> " or "PC< ") .. table.concat(summaries, "; ")
  return n
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, orderlink)
