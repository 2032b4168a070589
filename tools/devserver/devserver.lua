-- The development update server's answers, built with the installer's own schema and
-- message host. The program around it owns the sockets and the framing.
local sproto = require "sproto"
local proto = require "proto"
local cjson = require "cjson"

local server = {}

local c2s = sproto.new(proto.c2s)
local host = c2s:host "package"
local answer = {}
local options = {}

function server.configure(o)
	options = o
end

-- Returns the list of packets (without length prefix) to send back for one packet.
function server.handle(packet)
	local kind, name, request, respond = host:dispatch(packet)
	if kind ~= "REQUEST" then
		return {}
	end
	local handler = answer[name]
	local response = handler and handler(request)
	if not respond then
		return {}
	end
	if options.hostile == "unknown-session" and name == "get_update_info" then
		-- A well-formed response to a session the client never opened.
		local header = c2s:encode("package", { session = 99 })
		return { sproto.pack(header .. c2s:response_encode(name, response)) }
	end
	return { respond(response) }
end

-- A request of the server's own, which the installer's schema cannot dispatch.
function server.request()
	local s2c = sproto.new(proto.s2c)
	local header = s2c:encode("package", { type = 1, session = 1 })
	return sproto.pack(header)
end

function answer.heartbeat()
	return nil
end

function answer.get_update_info(request)
	if options.error_code and options.error_code ~= 0 then
		return { error_code = options.error_code }
	end
	if options.bad_json then
		return { error_code = 0, attach_msg = "{\"package_infos\": [" }
	end
	local info = { url = options.url, md5 = options.md5, size = options.size }
	if options.hostile == "number-url" then
		info.url = 12345
	end
	local attach = {
		update_type = 2,
		package_type = 2,
		package_infos = options.array and { info } or info,
		newest_version = options.version,
		rewrite_channel_id = false,
	}
	if options.hostile == "big-attach" then
		-- Longer than any packet the 2-byte framing can carry.
		attach.padding = string.rep("x", 100 * 1024)
	end
	return {
		error_code = 0,
		attach_msg = cjson.encode(attach),
		update_bonus = cjson.encode({ gold = 0, diamond = 0, silver_coin = 0, silver_diamond = 0, props = {} }),
		update_text = "",
	}
end

return server
