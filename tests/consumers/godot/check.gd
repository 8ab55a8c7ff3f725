# Loads walk.tres of the project Godot was started in and prints what Godot made of it, one
# line per fact, for the test to compare with what it asked quillet for.
extends SceneTree

func _init():
	var frames = load("res://walk.tres")
	if frames == null or not (frames is SpriteFrames):
		print("RESULT not-loaded")
		quit(1)
		return
	var names = Array(frames.get_animation_names())
	names.sort()
	for name in names:
		print("ANIMATION %s frames=%d speed=%s loop=%s" % [name, frames.get_frame_count(name),
			str(frames.get_animation_speed(name)), str(frames.get_animation_loop(name))])
		for k in range(frames.get_frame_count(name)):
			var texture = frames.get_frame(name, k)
			if texture is AtlasTexture:
				var atlas = texture.atlas
				print("FRAME %s %d region=%d,%d,%d,%d margin=%d,%d,%d,%d size=%d,%d atlas=%d,%d" % [name, k,
					texture.region.position.x, texture.region.position.y, texture.region.size.x, texture.region.size.y,
					texture.margin.position.x, texture.margin.position.y, texture.margin.size.x, texture.margin.size.y,
					texture.get_width(), texture.get_height(),
					atlas.get_width() if atlas else -1, atlas.get_height() if atlas else -1])
			elif texture:
				print("FRAME %s %d file=%s size=%d,%d" % [name, k, texture.resource_path.get_file(),
					texture.get_width(), texture.get_height()])
			else:
				print("FRAME %s %d missing" % [name, k])
	print("RESULT loaded")
	quit(0)
