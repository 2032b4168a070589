-- A coroutine that counts its steps, paced by clientsocket.usleep like the update script.
local socket = require "clientsocket"
steps = 0
local co = coroutine.create(function()
	while true do
		steps = steps + 1
		coroutine.yield()
	end
end)
function main_coroutine()
	return coroutine.resume(co)
end
return true
