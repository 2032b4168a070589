-- The update server's schema: requests of the client (c2s) and of the server (s2c).
local sprotoparser = require "sprotoparser"

local proto = {}

proto.c2s = sprotoparser.parse [[
.package {
	type 0 : integer
	session 1 : integer
}

get_update_info 1 {
	request {
		phone_plat 0 : integer       # client platform: 0 iOS, 1 Android
		client_version 1 : string    # version of the whole client package
		res_version 2 : string       # version of the hot-updated resources
		login_channel 3 : string     # login channel
	}
	response {
		# 0 success, 1 not on the allow list, 2 bad parameter (invalid platform),
		# 3 server not configured, 4 server error, 5 updates barred for this client version
		error_code 0 : integer
		# with error_code 0, JSON: update_type (0 none, 1 optional, 2 mandatory,
		# 3 forced by configuration), package_type (1 resource packages, 2 whole package),
		# package_infos (one object for a whole package, else an array to download in
		# order; each with url, md5, size), newest_version, rewrite_channel_id
		attach_msg 1 : string
		# JSON of the reward after updating: gold, diamond, silver_coin, silver_diamond,
		# props (array of objects with name and quantity)
		update_bonus 2 : string
		update_text 3 : string       # update notes
	}
}

heartbeat 2 {}

unit_test 3 {
	request {}
	response {
		error_code 0 : integer
	}
}
]]

proto.s2c = sprotoparser.parse [[
.package {
	type 0 : integer
	session 1 : integer
}
]]

return proto
