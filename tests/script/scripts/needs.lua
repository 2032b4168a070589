return require "planted"
