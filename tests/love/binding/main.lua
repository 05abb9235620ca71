-- The Lua binding against the real library, without a window: text as LÖVE delivers it
-- (a key's text after its key, text without a key, a character beyond U+FFFF, Backspace and
-- Enter), the wheel, and the pixel memory's layout. Prints "binding: passed" or the first
-- failure, and exits 0 or 1.
local quillo = require("quillo")

local PAGE = [[
<title>start</title>
<style>html,body{margin:0;height:3000px;background:rgb(10,200,30)}</style>
<div style="position:fixed;left:0;top:0;width:300px;height:200px;background:rgb(220,20,60)"></div>
<input id="field" autofocus style="position:fixed;right:0;bottom:0">
<script>
  const field = document.getElementById("field");
  field.addEventListener("input", () => { document.title = "text:" + field.value; });
  field.addEventListener("keydown", (e) => {
    if (e.key === "Enter") document.title = "enter:" + field.value;
  });
  addEventListener("scroll", () => { document.title = "scrolled:" + scrollY; });
</script>
]]

local page
local steps = {}
local step, deadline = 1, 0

local function fail(message)
  print("binding: FAILED: " .. message)
  io.stdout:flush()
  love.event.quit(1)
end

local function expect_title(want)
  return function()
    if page.title == want then return true end
    return false, "the title is " .. tostring(page.title) .. ", not " .. want
  end
end

-- Each step acts once, then waits (polling) until its check passes.
steps = {
  {act = function() end, check = expect_title("start")},
  {act = function() end, check = function()
    -- R,G,B,A, top row first, stride width * 4, in plain memory: the corner of the red box
    -- at the top left and the green page around it.
    local probes = {{299, 199, 220, 20, 60}, {300, 199, 10, 200, 30}, {299, 200, 10, 200, 30},
                    {0, 0, 220, 20, 60}, {599, 399, 10, 200, 30}}
    for _, p in ipairs(probes) do
      local r, g, b, a = page:pixel(p[1], p[2])
      if r ~= p[3] or g ~= p[4] or b ~= p[5] or a ~= 255 then
        return false, ("pixel (%d, %d) is %d,%d,%d,%d, not %d,%d,%d,255"):format(
          p[1], p[2], r, g, b, a, p[3], p[4], p[5])
      end
    end
    return true
  end},
  {act = function()
    page:focus(true)
    page:keypressed("k") page:textinput("k") page:keyreleased("k")
  end, check = expect_title("text:k")},
  {act = function()
    -- Shift+1 gives "!" as its text; then text without a key; then U+1F600 (two UTF-16 units).
    page:keypressed("1") page:textinput("!") page:keyreleased("1")
    page:textinput("é")
    page:textinput("\240\159\152\128")
  end, check = expect_title("text:k!é\240\159\152\128")},
  {act = function() page:keypressed("backspace") page:keyreleased("backspace") end,
   check = expect_title("text:k!é")},
  {act = function() page:keypressed("return") page:keyreleased("return") end,
   check = expect_title("enter:k!é")},
  {act = function() page:mousemoved(300, 300) page:wheelmoved(0, -1) end, check = function()
    local y = page.title and tonumber(page.title:match("^scrolled:(%d+)$"))
    if y and y > 0 then return true end
    return false, "one wheel notch down did not scroll (title " .. tostring(page.title) .. ")"
  end},
}

function love.load()
  -- The text conversions on their own.
  local points = quillo.code_points("a\195\169\240\159\152\128\255")
  local want = {0x61, 0xE9, 0x1F600, 0xFFFD}
  for i, p in ipairs(want) do
    if points[i] ~= p then return fail(("code point %d is %s, not %x"):format(i, tostring(points[i]), p)) end
  end
  local units = quillo.utf16_units(0x1F600)
  if units[1] ~= 0xD83D or units[2] ~= 0xDE00 then return fail("U+1F600 is not D83D DE00 in UTF-16") end
  if quillo.virtual_key("a") ~= 0x41 or quillo.virtual_key("kp5") ~= 0x65 or
    quillo.virtual_key("f12") ~= 0x7B or quillo.virtual_key("return") ~= 0x0D then
    return fail("a virtual-key code is wrong")
  end

  page = quillo.open{html = PAGE, width = 600, height = 400}
  if page.image then return fail("the page has an Image without love.graphics") end
  steps[1].act()
  deadline = love.timer.getTime() + 60
end

function love.update()
  if not page or step > #steps then return end
  page:update()
  local ok, why = steps[step].check()
  if ok then
    step = step + 1
    if step > #steps then
      print("binding: passed")
      io.stdout:flush()
      love.event.quit(0)
      return
    end
    steps[step].act()
    deadline = love.timer.getTime() + 60
  elseif love.timer.getTime() > deadline then
    fail("step " .. step .. ": " .. why)
  end
  love.timer.sleep(0.002)
end

function love.quit()
  quillo.shutdown()
end
