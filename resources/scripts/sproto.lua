-- Schema objects over "sproto.core" and the message host that builds requests and
-- dispatches what arrives. Sections: schema objects, message host.
local core = require "sproto.core"

local sproto = {}
local host = {}

local weak_mt = { __mode = "kv" }
local sproto_mt = { __index = sproto }
local sproto_nogc = { __index = sproto }
local host_mt = { __index = host }

-- ---- schema objects ----

function sproto_mt:__gc()
	core.deleteproto(self.__cobj)
end

local function wrap(cobj, mt)
	local self = {
		__cobj = cobj,
		__tcache = setmetatable({}, weak_mt),
		__pcache = setmetatable({}, weak_mt),
	}
	return setmetatable(self, mt)
end

function sproto.new(bundle)
	local cobj = assert(core.newproto(bundle), "invalid sproto bundle")
	return wrap(cobj, sproto_mt)
end

-- A schema owned elsewhere (a global slot): no finaliser.
function sproto.sharenew(cobj)
	return wrap(cobj, sproto_nogc)
end

function sproto.parse(text)
	local parser = require "sprotoparser"
	return sproto.new(parser.parse(text))
end

local function querytype(self, typename)
	local v = self.__tcache[typename]
	if not v then
		local ok, t = pcall(core.querytype, self.__cobj, typename)
		if not ok then
			error("type not found", 0)
		end
		v = t
		self.__tcache[typename] = v
	end
	return v
end

function sproto:exist_type(typename)
	if self.__tcache[typename] then
		return true
	end
	return (pcall(core.querytype, self.__cobj, typename))
end

function sproto:encode(typename, tbl)
	return core.encode(querytype(self, typename), tbl)
end

function sproto:decode(typename, ...)
	return core.decode(querytype(self, typename), ...)
end

function sproto:pencode(typename, tbl)
	return core.pack(core.encode(querytype(self, typename), tbl))
end

function sproto:pdecode(typename, ...)
	return core.decode(querytype(self, typename), core.unpack(...))
end

-- A protocol is cached under both its name and its tag.
local function queryproto(self, pname)
	local v = self.__pcache[pname]
	if not v then
		local tag, req, resp = core.protocol(self.__cobj, pname)
		if not tag then
			error(pname .. " not found", 0)
		end
		local name = pname
		if type(pname) == "number" then
			name, tag = tag, pname
		end
		v = { request = req, response = resp, name = name, tag = tag }
		self.__pcache[name] = v
		self.__pcache[tag] = v
	end
	return v
end

function sproto:exist_proto(pname)
	if self.__pcache[pname] then
		return true
	end
	return core.protocol(self.__cobj, pname) ~= nil
end

-- The encoded request ("" when the protocol has none) and the protocol's tag.
function sproto:request_encode(pname, tbl)
	local p = queryproto(self, pname)
	if p.request then
		return core.encode(p.request, tbl), p.tag
	end
	return "", p.tag
end

function sproto:response_encode(pname, tbl)
	local p = queryproto(self, pname)
	if p.response then
		return core.encode(p.response, tbl)
	end
	return ""
end

function sproto:request_decode(pname, ...)
	local p = queryproto(self, pname)
	if p.request then
		return (core.decode(p.request, ...)), p.name
	end
	return nil, p.name
end

function sproto:response_decode(pname, ...)
	local p = queryproto(self, pname)
	if p.response then
		return (core.decode(p.response, ...))
	end
	return nil
end

-- Default values of a type, or of a protocol's "REQUEST" or "RESPONSE".
function sproto:default(name, which)
	if which == nil then
		return core.default(querytype(self, name))
	end
	local p = queryproto(self, name)
	if which == "REQUEST" then
		if p.request then
			return core.default(p.request)
		end
	elseif which == "RESPONSE" then
		if p.response then
			return core.default(p.response)
		end
	else
		error("Invalid type", 0)
	end
	return nil
end

sproto.pack = core.pack
sproto.unpack = core.unpack

-- ---- message host ----

-- Reused for every header; only `type` and `session` are encoded.
local header_tmp = {}

function sproto:host(packagename)
	packagename = packagename or "package"
	local obj = {
		__proto = self,
		__package = core.querytype(self.__cobj, packagename),
		__session = {},
	}
	return setmetatable(obj, host_mt)
end

local function gen_response(self, response, session)
	return function(args, ud)
		header_tmp.type = nil
		header_tmp.session = session
		header_tmp.ud = ud
		local header = core.encode(self.__package, header_tmp)
		if response then
			return core.pack(header .. core.encode(response, args))
		end
		return core.pack(header)
	end
end

function host:dispatch(...)
	local bin = core.unpack(...)
	header_tmp.type = nil
	header_tmp.session = nil
	header_tmp.ud = nil
	local header, size = core.decode(self.__package, bin, header_tmp)
	local content = bin:sub(size + 1)
	if header.type then
		local p = queryproto(self.__proto, header.type)
		local result
		if p.request then
			result = core.decode(p.request, content)
		end
		if header.session then
			return "REQUEST", p.name, result, gen_response(self, p.response, header.session), header.ud
		end
		return "REQUEST", p.name, result, nil, header.ud
	end
	local session = header.session
	if session == nil then
		error("session not found", 0)
	end
	local response = self.__session[session]
	if response == nil then
		error("Unknown session", 0)
	end
	self.__session[session] = nil
	if response == true then
		return "RESPONSE", session, nil, header.ud
	end
	return "RESPONSE", session, (core.decode(response, content)), header.ud
end

-- The body of a response message of protocol `pname`, decoded after its header.
function host:response_decode(pname, ...)
	local bin = core.unpack(...)
	header_tmp.type = nil
	header_tmp.session = nil
	header_tmp.ud = nil
	local _, size = core.decode(self.__package, bin, header_tmp)
	return self.__proto:response_decode(pname, bin:sub(size + 1))
end

-- A sender for the requests of schema `sp`: returns the packed message.
function host:attach(sp)
	return function(name, args, session, ud)
		local p = queryproto(sp, name)
		header_tmp.type = p.tag
		header_tmp.session = session
		header_tmp.ud = ud
		local header = core.encode(self.__package, header_tmp)
		if session then
			self.__session[session] = p.response or true
		end
		if args and p.request then
			return core.pack(header .. core.encode(p.request, args))
		end
		return core.pack(header)
	end
end

return sproto
