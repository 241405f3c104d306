# The platform's queue: Redis streams.
qb_component(ENABLE_QB_MQ_REDIS
  PACKAGES hiredis
  HEADERS qb_mq_redis.h redis_stream.h)
