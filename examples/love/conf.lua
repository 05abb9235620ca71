-- The workshop example: LÖVE 11 with a web page as an in-game panel (bindings/lua/quillo.lua).
function love.conf(t)
  t.identity = "quillo-workshop"
  t.version = "11.4"
  t.window.title = "quillo workshop"
  t.window.width = 960
  t.window.height = 600
  t.window.vsync = 1
  -- The test places the window at the top left corner of its screen.
  if os.getenv("QUILLO_LOVE_REPORT") then t.window.x, t.window.y = 0, 0 end
  -- Neither sound nor controllers are used; a machine without a sound device starts as well.
  t.modules.audio = false
  t.modules.sound = false
  t.modules.joystick = false
  t.modules.physics = false
  t.modules.video = false
end
