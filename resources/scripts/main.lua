-- The update query: asks the update server for the newest installer package and reports
-- it through app.notify. The conversation runs in a coroutine that the host resumes
-- every 100 ms on the UI thread.

-- Values the installer sends with get_update_info.
local REQUEST = {
	phone_plat = 2,
	client_version = "1.0.0.1",
	res_version = "1.0.0.1",
	login_channel = "test",
}

local PORT = 8901

-- A connection that cannot be made, or that closes before the answer, is tried again:
-- three tries in all, the second 1 s after the first fails and the third 2 s after the
-- second. An answer ends the query, whatever its error code.
local RETRY_WAITS = { 1000000, 2000000 }  -- microseconds

function main()
	print("Hello world!")
	local socket = require "clientsocket"
	local proto = require "proto"
	local sproto = require "sproto"
	local json = require "json"
	local futil = require "futil"
	local app = require "app"

	local s2c = sproto.new(proto.s2c)
	local c2s = sproto.new(proto.c2s)

	-- One try: true once the answer has been reported, false when the connection failed
	-- or closed before the answer.
	local function converse()
		local host = s2c:host "package"
		local request = host:attach(c2s)

		local fd = socket.connect(app.server(), app.port and app.port() or PORT)
		if fd == 0 then
			print("connect failed!")
			return false
		end

		local last_session = 0
		local awaiting = {}  -- session -> name of the request awaiting its response
		local queued = {}    -- session -> requests held back until that session is free
		local reported = false

		local function transmit(name, args, session)
			awaiting[session] = name
			socket.send(fd, string.pack(">s2", request(name, args, session)))
		end

		local function send_request(name, args, session)
			if not session then
				last_session = last_session + 1
				session = last_session
			end
			if awaiting[session] then
				queued[session] = queued[session] or {}
				table.insert(queued[session], { name = name, args = args })
				return
			end
			transmit(name, args, session)
		end

		local handlers = {}

		function handlers.get_update_info(response)
			print(futil.toStr(response))
			if response.attach_msg then
				local info = json.decode(response.attach_msg)
				local pkg = type(info) == "table" and info.package_infos or nil
				if type(pkg) == "table" and pkg[1] ~= nil then
					pkg = pkg[1]
				end
				-- Only text is an address; a number or a table in its place fails the query
				-- instead of handing the downloader something it cannot fetch.
				if type(pkg) == "table" and type(pkg.url) == "string" and pkg.url ~= "" then
					-- JSON numbers arrive as floats; a size is reported as integer text.
					local size = pkg.size
					if math.type(size) == "float" then
						size = math.tointeger(size) or size
					end
					app.notify("installer", pkg.url, pkg.md5, tostring(size), info.newest_version)
					reported = true
					return
				end
			end
			app.notify("installer", "", "", "", "")
			reported = true
		end

		local function on_response(session, response)
			local name = awaiting[session]
			awaiting[session] = nil
			local handler = name and handlers[name]
			if handler then
				handler(response)
			elseif response ~= nil then
				print(futil.toStr(response))
			end
			local waiting = queued[session]
			if waiting and #waiting > 0 then
				local nextreq = table.remove(waiting, 1)
				transmit(nextreq.name, nextreq.args, session)
			end
		end

		send_request("heartbeat")
		send_request("get_update_info", REQUEST)

		local passes = 0
		while true do
			while true do
				local packet = socket.recv(fd)
				if not packet then
					break
				end
				if packet == "" then
					print("Server closed")
					return false
				end
				local kind, session, response = host:dispatch(packet)
				if kind == "RESPONSE" then
					on_response(session, response)
				end
			end
			if passes > 500 then
				passes = 0
				send_request("heartbeat")
			end
			socket.usleep(100000)
			coroutine.yield()
			passes = passes + 1
			if reported then
				return true
			end
		end
	end

	for try = 1, #RETRY_WAITS + 1 do
		if converse() then
			return
		end
		if try <= #RETRY_WAITS then
			socket.usleep(RETRY_WAITS[try])
			coroutine.yield()
		end
	end
	app.notify("installer", "", "", "", "")
end

function __msg_handler__(msg)
	print(msg)
end

local co = coroutine.create(main)

-- Resumes the conversation one step. It never raises; it hands back what the resume
-- returned so that the host can tell a failed step from a pause.
function main_coroutine()
	return coroutine.resume(co)
end

local _, ok, err = xpcall(main_coroutine, __msg_handler__)
if ok == false then
	print(err)
end
