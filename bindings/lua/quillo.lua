-- quillo for LuaJIT: one live web page painted into memory the game owns.
--
-- Loads libquillo.so through LuaJIT's FFI. Under LÖVE 11 the page is painted straight into an
-- ImageData (R,G,B,A, top row first) and shown as an Image; the page object takes LÖVE's mouse,
-- wheel, key, text and focus events as LÖVE hands them over.
--
--   local quillo = require("quillo")
--   local page = quillo.open{html = "<button>Hi</button>", width = 480, height = 320}
--   function love.update() for _, n in ipairs(page:update()) do print(n.kind, n.text) end end
--   function love.draw() page:draw(100, 50) end
--   function love.mousepressed(x, y, b) page:mousepressed(x - 100, y - 50, b) end
--   ...
--   function love.quit() quillo.shutdown() end
--
-- Threads: call everything from the thread that runs love.update and love.draw (the library
-- takes all its calls from one thread). Memory: the pixel memory belongs to the page object's
-- ImageData; the library paints into it between calls of page:update() and keeps doing so until
-- the page is closed, so the module keeps closed pages' memory until quillo.shutdown().
local ffi = require("ffi")

ffi.cdef([[
int LoadWeb(int x, int y, int width, int height, void* pixels, const char* url, int options,
            const char* acceptLanguage);
int UpdateWeb(void** text, int* value);
void UnloadWeb(bool shutdown);
void InputWeb(int event, int a, int b);
void GoBackForwardHome(int direction);
void ExecuteJavaScript(const char* script);
void ReserveInvalidRedirectUrlSchemes(const char* schemes);
void SetDebugEnable(bool enable);
void* malloc(size_t size);
void free(void* pointer);
]])

local bit = require("bit")
local band, bor = bit.band, bit.bor

local M = {}

-- The constants of quillo.h.
M.UPDATE_CURSOR_MASK = 0xFF
M.UPDATE_NEW_FRAME = 0x100
M.UPDATE_URL = 0x200
M.UPDATE_FOCUSED = 0x400
M.UPDATE_JS_DIALOG = 0x800
M.UPDATE_LOAD_ERROR = 0x1000
M.UPDATE_TITLE = 0x2000
M.UPDATE_POPUP_BLOCKED = 0x4000
M.INPUT_MOUSE = 0x1000
M.INPUT_KEY = 0x2000
M.INPUT_DIALOG = 0x4000
M.INPUT_MOUSE_DOWN = 0x10
M.INPUT_MOUSE_UP = 0x20
M.INPUT_MOUSE_MOVE = 0x30
M.INPUT_MOUSE_WHEEL = 0x40
M.INPUT_KEY_DOWN = 0x10
M.INPUT_KEY_UP = 0x20
M.INPUT_KEY_CHAR = 0x50
M.INPUT_FOCUS_IN = 0x60
M.INPUT_FOCUS_OUT = 0x70
M.INPUT_SHIFT = 0x100
M.INPUT_ALT = 0x200
M.INPUT_CONTROL = 0x400
M.PAINT_SWAP_RED_BLUE = 0x1
M.PAINT_BOTTOM_UP = 0x2
M.LOAD_DELETE_COOKIES = 0x8
M.HISTORY_HOME, M.HISTORY_BACK, M.HISTORY_FORWARD = 0, 1, 2
M.HTML_SOURCE_PREFIX = "quillo_htmlsource:"

M.DIALOG_TYPES = {[0] = "alert", [1] = "confirm", [2] = "prompt"}
M.CURSOR_NAMES = {[0] = "pointer", [1] = "cross", [2] = "hand", [3] = "ibeam", [4] = "wait",
                  [5] = "help"}
-- LÖVE's system cursor for each engine cursor type; others show the arrow.
local LOVE_CURSORS = {[0] = "arrow", [1] = "crosshair", [2] = "hand", [3] = "ibeam",
                      [4] = "wait"}

-- The most pixels a side the library lays a view out at.
M.MAX_SIDE = 8192
-- UpdateWeb calls one page:update() makes at most while they bring news.
local POLLS_PER_UPDATE = 8

-- ---- the library ----------------------------------------------------------------------------

local lib, lib_path

local function file_exists(path)
  local f = io.open(path, "rb")
  if f then f:close() end
  return f ~= nil
end

local function is_directory(path)
  local f = io.open(path .. "/.", "rb")
  if f then f:close() end
  return f ~= nil
end

-- Where the library is looked for, in order: $QUILLO_LIBRARY alone when it is set (the file or
-- its folder); else libquillo.so beside this file and in the game's folder; else the system
-- loader by the development name and by the SONAME (what the libquillo0 package installs).
function M.candidates()
  local configured = os.getenv("QUILLO_LIBRARY")
  if configured and configured ~= "" then
    if is_directory(configured) then configured = configured .. "/libquillo.so" end
    return {configured}
  end
  local list = {}
  local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$")
  if here then list[#list + 1] = here .. "/libquillo.so" end
  if love and love.filesystem and love.filesystem.getSource then
    local source = love.filesystem.getSource()
    if source and is_directory(source) then list[#list + 1] = source .. "/libquillo.so" end
    local base = love.filesystem.getSourceBaseDirectory and
                   love.filesystem.getSourceBaseDirectory()
    if base then list[#list + 1] = base .. "/libquillo.so" end
  end
  list[#list + 1] = "libquillo.so"
  list[#list + 1] = "libquillo.so.0"
  return list
end

-- Loads the library once (path: this file instead of the search) and returns the FFI object.
function M.load(path)
  if lib then return lib end
  local errors = {}
  for _, candidate in ipairs(path and {path} or M.candidates()) do
    if candidate:find("/") and not file_exists(candidate) then
      errors[#errors + 1] = candidate .. ": no such file"
    else
      local ok, loaded = pcall(ffi.load, candidate)
      if ok then
        lib, lib_path = loaded, candidate
        return lib
      end
      errors[#errors + 1] = tostring(loaded)
    end
  end
  error("quillo: cannot load libquillo.so (set QUILLO_LIBRARY to its path): " ..
          table.concat(errors, "; "), 2)
end

function M.library_path() return lib_path end

-- Turns the diagnostic log on or off (tavlo_cef.log beside the library, and standard error).
function M.set_debug(on) M.load().SetDebugEnable(on and true or false) end

-- ---- the engine: once per process -----------------------------------------------------------

local engine = {started = false, stopped = false, page = nil}
-- Pixel memory of closed pages, kept until the engine has stopped (see the top of this file).
local retired = {}

-- Stops the engine for the rest of the process (UnloadWeb(1)); call it from love.quit.
function M.shutdown()
  if engine.started and not engine.stopped then
    engine.stopped = true
    lib.UnloadWeb(true)
  end
  if engine.page then engine.page.open = false end
  engine.page = nil
  retired = {}
end

function M.engine_stopped() return engine.stopped end

-- ---- text -----------------------------------------------------------------------------------

-- The code points of a UTF-8 string (a malformed byte stands for U+FFFD).
local function code_points(text)
  local points, i, n = {}, 1, #text
  while i <= n do
    local c = text:byte(i)
    local count, point = 0, 0xFFFD
    if c < 0x80 then count, point = 0, c
    elseif c >= 0xC2 and c < 0xE0 then count, point = 1, band(c, 0x1F)
    elseif c >= 0xE0 and c < 0xF0 then count, point = 2, band(c, 0x0F)
    elseif c >= 0xF0 and c < 0xF5 then count, point = 3, band(c, 0x07)
    else count = -1 end
    if count < 0 then
      i = i + 1
    else
      local ok = i + count <= n
      for k = 1, count do
        local cc = ok and text:byte(i + k)
        if not cc or band(cc, 0xC0) ~= 0x80 then ok = false break end
        point = point * 64 + band(cc, 0x3F)
      end
      if ok then
        i = i + count + 1
      else
        point, i = 0xFFFD, i + 1
      end
    end
    points[#points + 1] = point
  end
  return points
end

-- The UTF-16 code units of one code point.
local function utf16_units(point)
  if point < 0x10000 then return {point} end
  point = point - 0x10000
  return {0xD800 + math.floor(point / 0x400), 0xDC00 + point % 0x400}
end

M.code_points, M.utf16_units = code_points, utf16_units

-- ---- keys: LÖVE's key names to Windows virtual-key codes ---------------------------------------

local VK_PACKET = 0xE7
-- Named keys: {virtual-key code, the character a Windows keyboard sends in CHAR, or 0}.
local NAMED = {
  backspace = {0x08, 0x08}, tab = {0x09, 0x09}, ["return"] = {0x0D, 0x0D},
  kpenter = {0x0D, 0x0D}, escape = {0x1B, 0x1B}, space = {0x20, 0},
  lshift = {0x10, 0}, rshift = {0x10, 0}, lctrl = {0x11, 0}, rctrl = {0x11, 0},
  lalt = {0x12, 0}, ralt = {0x12, 0}, pause = {0x13, 0}, capslock = {0x14, 0},
  pageup = {0x21, 0}, pagedown = {0x22, 0}, ["end"] = {0x23, 0}, home = {0x24, 0},
  left = {0x25, 0}, up = {0x26, 0}, right = {0x27, 0}, down = {0x28, 0},
  insert = {0x2D, 0}, delete = {0x2E, 0}, menu = {0x5D, 0}, application = {0x5D, 0},
  ["kp*"] = {0x6A, 0}, ["kp+"] = {0x6B, 0}, ["kp-"] = {0x6D, 0}, ["kp."] = {0x6E, 0},
  ["kp/"] = {0x6F, 0}, numlock = {0x90, 0}, scrolllock = {0x91, 0},
  [";"] = {0xBA, 0}, ["="] = {0xBB, 0}, [","] = {0xBC, 0}, ["-"] = {0xBD, 0},
  ["."] = {0xBE, 0}, ["/"] = {0xBF, 0}, ["`"] = {0xC0, 0}, ["["] = {0xDB, 0},
  ["\\"] = {0xDC, 0}, ["]"] = {0xDD, 0}, ["'"] = {0xDE, 0},
}
for n = 1, 24 do NAMED["f" .. n] = {0x70 + n - 1, 0} end
for n = 0, 9 do NAMED["kp" .. n] = {0x60 + n, 0} end

-- The virtual-key code of a LÖVE key name (KeyConstant), or nil for keys Windows has no code for.
function M.virtual_key(key)
  if #key == 1 and key:match("%l") then return key:upper():byte() end
  if #key == 1 and key:match("%d") then return key:byte() end
  local named = NAMED[key]
  return named and named[1]
end

-- ---- the page -------------------------------------------------------------------------------

local Page = {}
Page.__index = Page

-- Opens the page. Arguments (a table): url or html; width, height (pixels, default 640 x 360);
-- language ("en-US"); delete_cookies; library (a path). Under LÖVE the page paints into
-- page.image_data and shows page.image; elsewhere page.pixels is plain memory (R,G,B,A rows,
-- top row first, stride width * 4). The engine starts with the first page of the process; one
-- page is open at a time.
function M.open(args)
  args = args or {}
  local l = M.load(args.library)
  if engine.stopped then error("quillo: the engine was shut down; it cannot start again", 2) end
  if engine.page and engine.page.open then error("quillo: a page is open already", 2) end
  local width = math.max(1, math.min(M.MAX_SIDE, math.floor(args.width or 640)))
  local height = math.max(1, math.min(M.MAX_SIDE, math.floor(args.height or 360)))
  local url = args.url
  if args.html then url = M.HTML_SOURCE_PREFIX .. args.html end
  if not url then error("quillo: open needs url or html", 2) end

  local self = setmetatable({
    width = width, height = height, open = true,
    title = nil, url = nil, focused = false, cursor = 0, dialog = nil, load_error = nil,
    frames = 0, mouse_down = false, _pending_key = nil,
  }, Page)
  if love and love.image and love.graphics then
    -- R,G,B,A rows, top row first: ImageData's own layout, so the library paints straight in.
    self.image_data = love.image.newImageData(width, height, "rgba8")
    self.pixels = ffi.cast("uint8_t*", self.image_data:getFFIPointer())
    self.image = love.graphics.newImage(self.image_data)
  else
    local memory = ffi.gc(ffi.C.malloc(width * height * 4), ffi.C.free)
    if memory == nil then error("quillo: out of memory", 2) end
    self._memory = memory
    self.pixels = ffi.cast("uint8_t*", memory)
    ffi.fill(self.pixels, width * height * 4, 0)
  end
  local options = M.PAINT_SWAP_RED_BLUE
  if args.delete_cookies then options = bor(options, M.LOAD_DELETE_COOKIES) end
  self._text = ffi.new("void*[1]")
  self._value = ffi.new("int[1]")
  engine.started = true
  engine.page = self
  l.LoadWeb(0, 0, width, height, self.pixels, url, options, args.language or "en-US")
  return self
end

-- Polls the page (UpdateWeb, a few times while there is news) and returns the notices of this
-- frame as a list of {kind = ..., text = ..., value = ...}; kinds: "frame", "url", "title",
-- "dialog" (value: type, dialog_type: "alert"/"confirm"/"prompt"), "load_error" (value: network
-- error code), "popup_blocked", "cursor" (value: engine cursor type, name), "focus" (value 1/0).
-- The fields title, url, focused, cursor, dialog and load_error follow the notices. On a new
-- frame under LÖVE the image is refreshed from the pixel memory.
function Page:update()
  local notices = {}
  if not self.open or engine.stopped then return notices end
  local new_frame = false
  for _ = 1, POLLS_PER_UPDATE do
    local r = lib.UpdateWeb(self._text, self._value)
    if r == -1 then break end
    local text = nil
    if band(r, bor(M.UPDATE_URL, M.UPDATE_TITLE, M.UPDATE_JS_DIALOG, M.UPDATE_LOAD_ERROR)) ~= 0 and
      self._text[0] ~= nil then
      text = ffi.string(ffi.cast("const char*", self._text[0]))
    end
    if band(r, M.UPDATE_LOAD_ERROR) ~= 0 then
      self.load_error = {code = self._value[0], text = text}
      notices[#notices + 1] = {kind = "load_error", text = text, value = self._value[0]}
    end
    if band(r, M.UPDATE_URL) ~= 0 then
      self.url = text
      notices[#notices + 1] = {kind = "url", text = text}
    end
    if band(r, M.UPDATE_TITLE) ~= 0 then
      self.title = text
      notices[#notices + 1] = {kind = "title", text = text}
    end
    if band(r, M.UPDATE_JS_DIALOG) ~= 0 then
      local kind = self._value[0]
      self.dialog = {type = M.DIALOG_TYPES[kind] or ("type " .. kind), message = text or ""}
      notices[#notices + 1] = {kind = "dialog", text = text, value = kind,
                               dialog_type = self.dialog.type}
    end
    if band(r, M.UPDATE_POPUP_BLOCKED) ~= 0 then
      notices[#notices + 1] = {kind = "popup_blocked"}
    end
    local cursor = band(r, M.UPDATE_CURSOR_MASK)
    if cursor ~= 0 then
      self.cursor = cursor - 1
      notices[#notices + 1] = {kind = "cursor", value = cursor - 1,
                               name = M.CURSOR_NAMES[cursor - 1]}
    end
    local focused = band(r, M.UPDATE_FOCUSED) ~= 0
    if focused ~= self.focused then
      self.focused = focused
      notices[#notices + 1] = {kind = "focus", value = focused and 1 or 0}
    end
    if band(r, M.UPDATE_NEW_FRAME) ~= 0 then
      new_frame = true
      self.frames = self.frames + 1
      notices[#notices + 1] = {kind = "frame"}
    end
    -- Stop once a poll brings nothing but the focus level.
    if band(r, bit.bnot(M.UPDATE_FOCUSED)) == 0 then break end
  end
  if new_frame and self.image then self.image:replacePixels(self.image_data) end
  return notices
end

-- Draws the page's image (LÖVE) at x, y with optional scale.
function Page:draw(x, y, sx, sy)
  if self.image then love.graphics.draw(self.image, x or 0, y or 0, 0, sx or 1, sy or sx or 1) end
end

-- LÖVE's system cursor for the page's cursor, or nil (for love.mouse.setCursor).
function Page:system_cursor()
  if not (love and love.mouse and love.mouse.getSystemCursor) then return nil end
  return love.mouse.getSystemCursor(LOVE_CURSORS[self.cursor] or "arrow")
end

-- The pixel at page position (x, y) as r, g, b, a (0-255).
function Page:pixel(x, y)
  local at = (y * self.width + x) * 4
  local p = self.pixels
  return p[at], p[at + 1], p[at + 2], p[at + 3]
end

function Page:_input(event, a, b)
  if self.open and not engine.stopped then lib.InputWeb(event, a, b) end
end

-- ---- navigation and script --------------------------------------------------------------------

function Page:load(url) if self.open then lib.LoadWeb(0, 0, self.width, self.height, self.pixels,
                                                      url, M.PAINT_SWAP_RED_BLUE, "en-US") end end
function Page:load_html(html) self:load(M.HTML_SOURCE_PREFIX .. html) end
function Page:run_script(script) if self.open then lib.ExecuteJavaScript(script) end end
function Page:back() if self.open then lib.GoBackForwardHome(M.HISTORY_BACK) end end
function Page:forward() if self.open then lib.GoBackForwardHome(M.HISTORY_FORWARD) end end
function Page:home() if self.open then lib.GoBackForwardHome(M.HISTORY_HOME) end end
-- URL prefixes the page may not navigate to; each attempt comes back as a "url" notice, which
-- makes links such as <a href="game:jump"> a way for the page to talk to the game.
function Page:block_url_prefixes(prefixes)
  if self.open then lib.ReserveInvalidRedirectUrlSchemes(table.concat(prefixes, ";")) end
end

-- Answers the waiting script dialog: OK (accept) or Cancel.
function Page:answer_dialog(accept)
  self:_input(M.INPUT_DIALOG, accept and 1 or 0, 0)
  self.dialog = nil
end

-- Closes the page (UnloadWeb(0)); the engine keeps running and quillo.open opens another.
function Page:close()
  if not self.open then return end
  self.open = false
  if not engine.stopped then lib.UnloadWeb(false) end
  retired[#retired + 1] = {self.image_data, self._memory}
  if engine.page == self then engine.page = nil end
end

-- ---- LÖVE's events, in page coordinates -------------------------------------------------------

local function held(...)
  return love and love.keyboard and love.keyboard.isDown(...)
end

local function modifiers()
  local m = 0
  if held("lshift", "rshift") then m = bor(m, M.INPUT_SHIFT) end
  if held("lctrl", "rctrl") then m = bor(m, M.INPUT_CONTROL) end
  if held("lalt", "ralt") then m = bor(m, M.INPUT_ALT) end
  return m
end

function Page:mousemoved(x, y)
  -- A move with the left button held carries INPUT_SHIFT (a drag).
  local drag = self.mouse_down and M.INPUT_SHIFT or 0
  self:_input(bor(M.INPUT_MOUSE, M.INPUT_MOUSE_MOVE, drag), math.floor(x), math.floor(y))
end

-- Only the left button (1) reaches the page.
function Page:mousepressed(x, y, button)
  if button ~= 1 then return end
  self.mouse_down = true
  self:mousemoved(x, y)
  self:_input(bor(M.INPUT_MOUSE, M.INPUT_MOUSE_DOWN), math.floor(x), math.floor(y))
end

function Page:mousereleased(x, y, button)
  if button ~= 1 or not self.mouse_down then return end
  self.mouse_down = false
  self:_input(bor(M.INPUT_MOUSE, M.INPUT_MOUSE_UP), math.floor(x), math.floor(y))
end

-- LÖVE's wheel steps (y > 0 away from the user, x > 0 to the right) in Windows units: 120 a
-- notch, positive towards the top and the left of the page.
function Page:wheelmoved(x, y)
  self:_input(bor(M.INPUT_MOUSE, M.INPUT_MOUSE_WHEEL), math.floor(-x * 120),
              math.floor(y * 120))
end

-- Keyboard focus: the game says when the page has it (a click on the panel, for example).
function Page:focus(on)
  self:_input(bor(M.INPUT_KEY, on and M.INPUT_FOCUS_IN or M.INPUT_FOCUS_OUT), 0, 0)
end

-- A key went down. Its text follows in textinput, which sends it as the key's CHAR (as Windows
-- sends KEYDOWN, CHAR, KEYUP); keys with a control character (Enter, Backspace, Tab, Escape)
-- send it here, as LÖVE gives them no text. Control shortcuts type nothing.
function Page:keypressed(key)
  local vk = M.virtual_key(key)
  if not vk then return end
  local m = modifiers()
  local named = NAMED[key]
  local char = named and named[2] or 0
  self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_DOWN, m), vk, char)
  if char ~= 0 and band(m, M.INPUT_CONTROL) == 0 then
    self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_CHAR, m), vk, char)
  end
  -- A key that types text: its CHAR comes with textinput.
  if char == 0 and (#key == 1 or key == "space" or key:match("^kp[%d%.%*%+%-/]$")) then
    self._pending_key = vk
  else
    self._pending_key = nil
  end
end

function Page:keyreleased(key)
  local vk = M.virtual_key(key)
  if not vk then return end
  self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_UP, modifiers()), vk, 0)
end

-- Text typed (UTF-8): the CHAR events of the key just pressed, or, for text that came without a
-- key of its own (an input method, a dead key), KEYDOWN, CHAR and KEYUP of VK_PACKET per
-- character.
function Page:textinput(text)
  local m = band(modifiers(), M.INPUT_SHIFT)
  for _, point in ipairs(code_points(text)) do
    local units = utf16_units(point)
    local vk = self._pending_key
    self._pending_key = nil
    if not vk then self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_DOWN), VK_PACKET, units[1]) end
    for _, unit in ipairs(units) do
      self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_CHAR, m), vk or VK_PACKET, unit)
    end
    if not vk then self:_input(bor(M.INPUT_KEY, M.INPUT_KEY_UP), VK_PACKET, units[1]) end
  end
end

M.Page = Page
return M
