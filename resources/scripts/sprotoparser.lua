-- Compiles schema text into the binary bundle that "sproto.core" reads.
-- Sections: grammar, checking and naming, bundle writing, module.
local lpeg = require "lpeg"

local P, S, R, C, Ct, Cg, Cc, Cp, V =
	lpeg.P, lpeg.S, lpeg.R, lpeg.C, lpeg.Ct, lpeg.Cg, lpeg.Cc, lpeg.Cp, lpeg.V

-- ---- grammar ----

local comment = P"#" * (1 - P"\n")^0
local blank = S" \t\r\n" + comment
local blank0 = blank^0
local blanks = blank^1
local alpha = R("az", "AZ") + P"_"
local alnum = alpha + R"09"
local word = alpha * alnum^0
local name = C(word)
local typename = C(word * ("." * word)^0)
local tag = R"09"^1 / tonumber

local function keyword(k)
	return P(k) * -alnum
end

local grammar = P {
	"schema",
	schema = blank0 * Ct((V"definition" * blank0)^0) * Cp(),
	definition = V"type" + V"protocol",
	field = Ct(Cg(Cc"field", "kind") * Cg(name, "name") * blanks * Cg(tag, "tag")
		* blank0 * ":" * blank0 * Cg(C(P"*"^-1), "array") * blank0 * Cg(typename, "typename")
		* (blank0 * "(" * blank0 * Cg(C(word^-1), "key") * blank0 * ")")^-1),
	members = Ct(((V"field" + V"type") * blank0)^0),
	type = Ct(Cg(Cc"type", "kind") * "." * Cg(name, "name") * blank0
		* "{" * blank0 * Cg(V"members", "members") * "}"),
	part = Ct(Cg(C(keyword"request" + keyword"response"), "which") * blank0
		* (Cg(typename, "typename") + "{" * blank0 * Cg(V"members", "members") * "}")),
	protocol = Ct(Cg(Cc"protocol", "kind") * Cg(name, "name") * blanks * Cg(tag, "tag")
		* blank0 * "{" * blank0 * Cg(Ct((V"part" * blank0)^0), "parts") * "}"),
}

local function line_of(text, pos)
	local line = 1
	for _ in text:sub(1, pos - 1):gmatch("\n") do
		line = line + 1
	end
	return line
end

-- ---- checking and naming ----

local buildin_types = { integer = 0, boolean = 1, string = 2 }

-- Flattens a type and its nested types into `types` under their full names.
local function add_type(types, fullname, members)
	if types[fullname] then
		error("redefined " .. fullname, 0)
	end
	local fields, names, tags = {}, {}, {}
	types[fullname] = fields
	for _, m in ipairs(members) do
		if m.kind == "type" then
			add_type(types, fullname .. "." .. m.name, m.members)
		else
			if names[m.name] then
				error(string.format("redefine %s in type %s", m.name, fullname), 0)
			end
			if tags[m.tag] then
				error(string.format("redefine tag %d in type %s", m.tag, fullname), 0)
			end
			names[m.name] = true
			tags[m.tag] = true
			table.insert(fields, {
				name = m.name,
				tag = m.tag,
				array = m.array == "*",
				typename = m.typename,
				key = m.key,
			})
		end
	end
end

-- Built-ins first, then nested in the current type, then each enclosing type outward,
-- then the top level.
local function resolve(types, owner, tname)
	if buildin_types[tname] then
		return tname
	end
	local scope = owner
	while scope do
		local candidate = scope .. "." .. tname
		if types[candidate] then
			return candidate
		end
		scope = scope:match("^(.*)%.[^.]*$")
	end
	if types[tname] then
		return tname
	end
	return nil
end

local function check_types(types)
	for tname, fields in pairs(types) do
		for _, f in ipairs(fields) do
			local full = resolve(types, tname, f.typename)
			if not full then
				error(string.format("Undefined type %s in type %s", f.typename, tname), 0)
			end
			f.typename = full
			if f.key ~= nil then
				local keytag
				local element = types[full]
				if element and f.array then
					for _, ef in ipairs(element) do
						if ef.name == f.key and buildin_types[ef.typename] and not ef.array then
							keytag = ef.tag
						end
					end
				end
				if not keytag then
					error("Invalid map index :" .. f.key, 0)
				end
				f.keytag = keytag
			end
		end
		table.sort(fields, function(a, b) return a.tag < b.tag end)
	end
end

local function build(defs)
	local types, protocols, ptags = {}, {}, {}
	for _, d in ipairs(defs) do
		if d.kind == "type" then
			add_type(types, d.name, d.members)
		end
	end
	for _, d in ipairs(defs) do
		if d.kind == "protocol" then
			if protocols[d.name] then
				error("redefined " .. d.name, 0)
			end
			if ptags[d.tag] then
				error(string.format("redefined protocol tag %d at %s", d.tag, d.name), 0)
			end
			local p = { name = d.name, tag = d.tag }
			for _, part in ipairs(d.parts) do
				if part.members then
					local inline = d.name .. "." .. part.which
					add_type(types, inline, part.members)
					p[part.which] = inline
				else
					p[part.which] = part.typename
				end
			end
			protocols[d.name] = p
			ptags[d.tag] = p
		end
	end
	check_types(types)
	for _, p in pairs(protocols) do
		for _, which in ipairs { "request", "response" } do
			local t = p[which]
			if t and not types[t] then
				error(string.format("Undefined %s type %s in protocol %s", which, t, p.name), 0)
			end
		end
	end
	return types, protocols
end

-- ---- bundle writing ----

-- An entry holding a small value in place.
local function inplace(v)
	return string.pack("<I2", (v + 1) * 2)
end

local function item(bytes)
	return string.pack("<s4", bytes)
end

local function items(list)
	local out = {}
	for i, v in ipairs(list) do
		out[i] = item(v)
	end
	return table.concat(out)
end

-- A field record: name (data item), built-in kind or struct index, tag, array flag, key.
local function pack_field(f, ids)
	local entries = {}
	local count = 4
	if f.array then
		count = f.keytag and 6 or 5
	end
	table.insert(entries, string.pack("<I2", count))
	table.insert(entries, "\0\0")
	local buildin = buildin_types[f.typename]
	if buildin then
		table.insert(entries, inplace(buildin))
		table.insert(entries, "\1\0")
	else
		table.insert(entries, "\1\0")
		table.insert(entries, inplace(ids[f.typename]))
	end
	table.insert(entries, inplace(f.tag))
	if f.array then
		table.insert(entries, inplace(1))
	end
	if f.keytag then
		table.insert(entries, inplace(f.keytag))
	end
	table.insert(entries, item(f.name))
	return table.concat(entries)
end

local function pack_type(tname, fields, ids)
	if #fields == 0 then
		return "\1\0\0\0" .. item(tname)
	end
	local records = {}
	for i, f in ipairs(fields) do
		records[i] = pack_field(f, ids)
	end
	return "\2\0\0\0\0\0" .. item(tname) .. item(items(records))
end

local function pack_protocol(p, ids)
	local entries = { "", "\0\0", inplace(p.tag) }
	local count = 2
	if p.request or p.response then
		count = 3
		table.insert(entries, p.request and inplace(ids[p.request]) or "\1\0")
		if p.response then
			count = 4
			table.insert(entries, inplace(ids[p.response]))
		end
	end
	entries[1] = string.pack("<I2", count)
	table.insert(entries, item(p.name))
	return table.concat(entries)
end

local function pack_bundle(types, protocols)
	local names = {}
	for tname in pairs(types) do
		table.insert(names, tname)
	end
	table.sort(names)
	local ids = {}
	for i, tname in ipairs(names) do
		ids[tname] = i - 1
	end
	local trecords = {}
	for i, tname in ipairs(names) do
		trecords[i] = pack_type(tname, types[tname], ids)
	end
	local plist = {}
	for _, p in pairs(protocols) do
		table.insert(plist, p)
	end
	table.sort(plist, function(a, b) return a.tag < b.tag end)
	if #plist == 0 then
		return "\1\0\0\0" .. item(items(trecords))
	end
	local precords = {}
	for i, p in ipairs(plist) do
		precords[i] = pack_protocol(p, ids)
	end
	return "\2\0\0\0\0\0" .. item(items(trecords)) .. item(items(precords))
end

-- ---- module ----

local sprotoparser = {}

-- Returns the bundle of the schema text; `schemaname` names it in syntax errors.
function sprotoparser.parse(text, schemaname)
	schemaname = schemaname or "=text"
	local defs, stop = grammar:match(text)
	if stop ~= #text + 1 then
		error(string.format("syntax error at [%s] line (%d)", schemaname, line_of(text, stop)), 0)
	end
	return pack_bundle(build(defs))
end

return sprotoparser
