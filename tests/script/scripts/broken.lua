return function(
