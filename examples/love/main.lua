-- The workshop: a small LÖVE scene with a web page as an in-game panel.
--
-- The panel (panel.html) paints the ship, names it and launches it; its buttons reach the game
-- as refused game: links. A click on the panel gives the page the keyboard; a click elsewhere
-- gives it back to the game (arrow keys move the ship, Escape quits). Script dialogs are drawn
-- by the game and answered with the mouse or Enter and Escape.
--
--   QUILLO_LIBRARY=/path/to/libquillo.so love examples/love    (QUILLO_DEBUG=1: the log too)
--
-- With QUILLO_LOVE_REPORT set, the game prints what it sees and does on standard output, one
-- line each (tests/love/love_example_test.py reads them).
local quillo = require("quillo")

local REPORT = os.getenv("QUILLO_LOVE_REPORT") ~= nil
local PANEL = {x = 440, y = 80, w = 480, h = 400}
local DIALOG = {w = 360, h = 150}

local page
local keyboard_on_page = false
local ready = false
local stars = {}
local ship = {x = 200, y = 330, colour = {1, 1, 1}, name = "", launched = false, speed = 0}
local fonts = {}

local function say(...)
  if not REPORT then return end
  local parts = {}
  for i = 1, select("#", ...) do
    local part = tostring(select(i, ...))
    parts[i] = #part > 200 and part:sub(1, 200) .. "..." or part
  end
  io.stdout:write(table.concat(parts, " "), "\n")
  io.stdout:flush()
end

local function in_panel(x, y)
  return x >= PANEL.x and y >= PANEL.y and x < PANEL.x + PANEL.w and y < PANEL.y + PANEL.h
end

local function unescape(text)
  return (text:gsub("%%(%x%x)", function(hex) return string.char(tonumber(hex, 16)) end))
end

-- What the panel asks of the game (a refused game: link).
local function act(url)
  local r, g, b = url:match("^game:colour/(%d+),(%d+),(%d+)$")
  if r then
    ship.colour = {tonumber(r) / 255, tonumber(g) / 255, tonumber(b) / 255}
    say("ship colour", r, g, b)
  elseif url:match("^game:name/") then
    ship.name = unescape(url:match("^game:name/(.*)$"))
    say("ship name", ship.name)
  elseif url == "game:launch" then
    ship.launched, ship.speed = true, 0
    say("ship launched")
  elseif url == "game:quit" then
    say("quit asked")
    love.event.quit()
  end
end

local function set_keyboard(on_page)
  if on_page ~= keyboard_on_page then
    keyboard_on_page = on_page
    page:focus(on_page)
  end
end

-- The dialog box's buttons, in window coordinates.
local function dialog_buttons()
  local x = PANEL.x + (PANEL.w - DIALOG.w) / 2
  local y = PANEL.y + (PANEL.h - DIALOG.h) / 2
  local buttons = {ok = {x = x + DIALOG.w - 200, y = y + DIALOG.h - 48, w = 88, h = 34}}
  if page.dialog and page.dialog.type ~= "alert" then
    buttons.cancel = {x = x + DIALOG.w - 104, y = y + DIALOG.h - 48, w = 88, h = 34}
  end
  return x, y, buttons
end

local function answer(accept)
  say("dialog answered", accept and "ok" or "cancel")
  page:answer_dialog(accept)
end

function love.load()
  -- QUILLO_DEBUG=1: the library's diagnostic log on standard error.
  if os.getenv("QUILLO_DEBUG") == "1" then quillo.set_debug(true) end
  love.keyboard.setKeyRepeat(true)
  fonts.small = love.graphics.newFont(14)
  fonts.big = love.graphics.newFont(20)
  for i = 1, 140 do
    stars[i] = {x = love.math.random() * 960, y = love.math.random() * 600,
                speed = 20 + love.math.random() * 80}
  end
  page = quillo.open{html = love.filesystem.read("panel.html"), width = PANEL.w,
                     height = PANEL.h}
  page:block_url_prefixes({"game:"})
  say("library", quillo.library_path())
end

function love.update(dt)
  for _, star in ipairs(stars) do
    star.x = star.x - star.speed * dt
    if star.x < 0 then star.x, star.y = 960, love.math.random() * 600 end
  end
  if ship.launched then
    ship.speed = ship.speed + 400 * dt
    ship.y = ship.y - ship.speed * dt
    if ship.y < -60 then ship.y, ship.launched, ship.speed = 330, false, 0 end
  end

  for _, notice in ipairs(page:update()) do
    if notice.kind == "url" then
      say("url", notice.text)
      if notice.text:match("^game:") then act(notice.text) end
    elseif notice.kind == "title" then
      say("title", notice.text)
    elseif notice.kind == "dialog" then
      say("dialog", notice.dialog_type, notice.text)
    elseif notice.kind == "load_error" then
      say("load error", notice.value, notice.text)
    elseif notice.kind == "focus" then
      say("page focus", notice.value)
    elseif notice.kind == "cursor" then
      if in_panel(love.mouse.getPosition()) then love.mouse.setCursor(page:system_cursor()) end
    end
  end
  if not ready and page.frames > 0 and page.title == "Workshop" then
    ready = true
    local wx, wy = love.window.getPosition()
    say("ready panel", wx + PANEL.x, wy + PANEL.y, PANEL.w, PANEL.h, "ship", wx + ship.x,
        wy + ship.y)
  end
end

function love.draw()
  love.graphics.clear(0.02, 0.03, 0.08)
  love.graphics.setColor(1, 1, 1, 0.7)
  for _, star in ipairs(stars) do love.graphics.points(star.x, star.y) end

  -- The ship: a disc in its paint, with its name below.
  love.graphics.setColor(ship.colour)
  love.graphics.circle("fill", ship.x, ship.y, 36)
  love.graphics.polygon("fill", ship.x - 20, ship.y + 30, ship.x + 20, ship.y + 30, ship.x,
                        ship.y + 64)
  love.graphics.setColor(1, 1, 1)
  love.graphics.setFont(fonts.big)
  love.graphics.printf(ship.name, ship.x - 150, ship.y + 76, 300, "center")

  -- The panel: the page's picture in a frame that shows who has the keyboard.
  love.graphics.setColor(keyboard_on_page and {0.9, 0.8, 0.3} or {0.4, 0.45, 0.6})
  love.graphics.setLineWidth(4)
  love.graphics.rectangle("line", PANEL.x - 4, PANEL.y - 4, PANEL.w + 8, PANEL.h + 8)
  love.graphics.setColor(1, 1, 1)
  page:draw(PANEL.x, PANEL.y)

  if page.dialog then
    love.graphics.setColor(0, 0, 0, 0.55)
    love.graphics.rectangle("fill", PANEL.x, PANEL.y, PANEL.w, PANEL.h)
    local x, y, buttons = dialog_buttons()
    love.graphics.setColor(0.93, 0.93, 0.9)
    love.graphics.rectangle("fill", x, y, DIALOG.w, DIALOG.h, 8)
    love.graphics.setColor(0.1, 0.1, 0.15)
    love.graphics.setFont(fonts.small)
    love.graphics.printf(page.dialog.message, x + 16, y + 16, DIALOG.w - 32)
    for label, b in pairs(buttons) do
      love.graphics.setColor(label == "ok" and {0.25, 0.45, 0.85} or {0.55, 0.55, 0.6})
      love.graphics.rectangle("fill", b.x, b.y, b.w, b.h, 6)
      love.graphics.setColor(1, 1, 1)
      love.graphics.printf(label == "ok" and "OK" or "Cancel", b.x, b.y + 9, b.w, "center")
    end
  end

  love.graphics.setColor(0.7, 0.75, 0.85)
  love.graphics.setFont(fonts.small)
  love.graphics.print(keyboard_on_page and "Keyboard: panel (click outside to play)" or
                        "Keyboard: game (arrows move, Escape quits; click the panel to use it)",
                      20, 570)
end

function love.mousepressed(x, y, button)
  if page.dialog then
    local _, _, buttons = dialog_buttons()
    for label, b in pairs(buttons) do
      if x >= b.x and y >= b.y and x < b.x + b.w and y < b.y + b.h then answer(label == "ok") end
    end
    return
  end
  if in_panel(x, y) then
    set_keyboard(true)
    page:mousepressed(x - PANEL.x, y - PANEL.y, button)
  else
    set_keyboard(false)
  end
end

function love.mousereleased(x, y, button)
  page:mousereleased(x - PANEL.x, y - PANEL.y, button)
end

function love.mousemoved(x, y)
  if in_panel(x, y) or page.mouse_down then page:mousemoved(x - PANEL.x, y - PANEL.y) end
end

function love.wheelmoved(dx, dy)
  if in_panel(love.mouse.getPosition()) then page:wheelmoved(dx, dy) end
end

function love.keypressed(key)
  if page.dialog then
    if key == "return" or key == "kpenter" then answer(true) end
    if key == "escape" then answer(false) end
    return
  end
  if keyboard_on_page then
    page:keypressed(key)
  elseif key == "escape" then
    love.event.quit()
  elseif key == "left" or key == "right" then
    ship.x = math.max(40, math.min(400, ship.x + (key == "left" and -12 or 12)))
  end
end

function love.keyreleased(key)
  if keyboard_on_page and not page.dialog then page:keyreleased(key) end
end

function love.textinput(text)
  if keyboard_on_page and not page.dialog then page:textinput(text) end
end

function love.focus(focused)
  -- The window lost the keyboard: so did the page.
  if not focused then set_keyboard(false) end
end

function love.quit()
  quillo.shutdown()
  say("bye")
  return false
end
