-- The binding's own checks (main.lua): no window and no graphics, so the binding paints into
-- plain memory as it does for a LuaJIT host outside LÖVE.
function love.conf(t)
  t.identity = "quillo-binding-test"
  t.window = nil
  t.modules.window = false
  t.modules.graphics = false
  t.modules.audio = false
  t.modules.sound = false
  t.modules.joystick = false
  t.modules.physics = false
  t.modules.video = false
end
